# shellcheck shell=bash
# Sourced by the scripts that cross-build for 64-bit Windows:   . scripts/lib/windows-build.sh
# windows_cmake_options [KIT]: sets the array windows_cmake to the cmake options of a cross build with mingw-w64,
# for   cmake -S "$root" -B "$build" "${windows_cmake[@]}" [more options]
# With KIT (scripts/windows-kit) the whole client against that Qt kit, without it the toolkit-free core. Either way
# with the libsodium of scripts/windows-sodium, built first when not cached (its prefix: windows_sodium), so the
# updater core, update-sign and their tests are in the build.
# Must be called with the repository as the current directory.
windows_cmake_options() {
  local kit=${1:-} root=$PWD prefixes
  windows_sodium=$(scripts/windows-sodium | tail -n 1)
  [ -f "$windows_sodium/lib/pkgconfig/libsodium.pc" ] ||
    { echo "no libsodium for Windows at '$windows_sodium'" >&2; return 1; }
  # The toolchain file makes every CMAKE_PREFIX_PATH entry a root of its own, so pkg-config and find_package look
  # there and never at the host's Linux libraries.
  prefixes=$windows_sodium
  # Line tables only (-g1): Wine's backtrace of a crash still names functions and lines, the compiles take about a
  # third less and the links far less than with full debug information; dist\ is stripped either way.
  windows_cmake=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
  # The roads build the program again with their own origins: the same sources and flags, so ccache hands back what
  # the leg's own build compiled, and only what the origins reach is compiled twice. That takes absolute paths: the
  # roads' folders lie one or two levels below the leg's, so a path made relative to the compile's folder (a base
  # directory) differs in every compile, and each missed. Absolute, the same source preprocesses to the same text
  # from any folder; only the folder's own name is left out of the hash.
  if command -v ccache >/dev/null; then
    local launcher="env;-u;CCACHE_BASEDIR;CCACHE_NOHASHDIR=1;ccache"
    windows_cmake+=(-DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
  fi
  if [ -n "$kit" ]; then
    # The cross-built Qt runs the host's moc, rcc and uic, found through the host's own CMake packages.
    local multiarch
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH) || { echo "dpkg-architecture failed (dpkg-dev)" >&2; return 1; }
    prefixes="$kit;$windows_sodium"
    windows_cmake+=(-DVEXTAL_CORE_ONLY=OFF -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$multiarch/cmake")
  else
    windows_cmake+=(-DVEXTAL_CORE_ONLY=ON)
  fi
  windows_cmake+=(-DCMAKE_PREFIX_PATH="$prefixes")
}

# windows_check_updater BUILD-DIR: the updater must be in a Windows build; CMake leaves it out without a word of
# failure when libsodium is not found, which would quietly drop its tests.
windows_check_updater() {
  grep -q '^SODIUM_FOUND:INTERNAL=1' "$1/CMakeCache.txt" ||
    { echo "the Windows build in $1 found no libsodium: the updater and its tests would be left out" >&2; return 1; }
}
