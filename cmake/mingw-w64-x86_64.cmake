# Cross build for 64-bit Windows with mingw-w64, e.g. the toolkit-free core:
#   cmake -S . -B build-win -DVEXTAL_CORE_ONLY=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# or the whole client against a Qt kit from scripts/windows-kit:
#   cmake -S . -B build-win-qt -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<kit> \
#         -DQT_HOST_PATH=/usr
# The -posix compilers carry the winpthreads thread model; the -win32 ones have no std::thread, which the connect
# thread and the loopback test server need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEXTAL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXTAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXTAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXTAL_MINGW_TRIPLE}-windres)

# A Qt kit named in CMAKE_PREFIX_PATH is a root of its own beside the mingw sysroot, so find_package(Qt6) finds the
# Windows Qt there and never the host's Linux one.
set(CMAKE_FIND_ROOT_PATH /usr/${VEXTAL_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest and gtest_discover_tests start the .exe files on Linux, through Wine (wine-test-run says why not
# directly). WINEDEBUG and WINEPREFIX come from the environment (scripts/windows-tests sets them).
find_program(VEXTAL_WINE_PROGRAM NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VEXTAL_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test-run ${VEXTAL_WINE_PROGRAM})
endif()
