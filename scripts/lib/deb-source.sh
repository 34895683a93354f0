# shellcheck shell=bash
# Sourced by the scripts that build a Windows library from Debian's own source package:
#   . scripts/lib/deb-source.sh; deb_source_ready
# deb_source_ready: apt-get source needs a deb-src entry; it mirrors the binary entries, so the sources fetched are
# the very versions of the packages installed on this machine. Nothing is changed when one exists already.
deb_source_ready() {
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/ &&
    return 0
  echo "adding deb-src entries for apt-get source" >&2
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/vextal-src.sources >/dev/null
  else
    grep -hE '^deb[[:space:]]' /etc/apt/sources.list | sed 's/^deb\([[:space:]]\)/deb-src\1/' |
      $sudo tee /etc/apt/sources.list.d/vextal-src.list >/dev/null
  fi
  $sudo apt-get update -qq >&2
}
