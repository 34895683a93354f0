# shellcheck shell=bash
# Sourced by the scripts that run a Windows program in a given locale:   . scripts/lib/locale.sh
# shellcheck source=scripts/lib/on-exit.sh
[ -n "$(type -t on_exit)" ] || . "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"
locale_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# host_locale_works LOCALE: whether this machine's C library can switch to LOCALE (Perl's setlocale is the C one).
host_locale_works() { perl -MPOSIX -e 'exit !defined POSIX::setlocale(POSIX::LC_ALL, $ARGV[0])' "$1" 2>/dev/null; }

# host_locale_ready LOCALE (such as zh_CN.UTF-8): generates LOCALE when this machine lacks it, the Debian way
# (/etc/locale.gen and locale-gen, so a later locale-gen keeps it), and fails when it still does not work. Wine takes
# its Windows locale and the code page of file names and console from the Unix locale; one that is missing leaves
# Wine in ASCII whatever LANG says.
host_locale_ready() {
  local wanted=$1 charset sudo=""
  host_locale_works "$wanted" && return 0
  [[ $wanted == *.* ]] || { echo "locale $wanted names no character set (such as zh_CN.UTF-8)" >&2; return 1; }
  charset=${wanted#*.}
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  [ -f "/usr/share/i18n/locales/${wanted%%.*}" ] || { echo "no locale source for $wanted (package locales)" >&2; return 1; }
  echo "generating the locale $wanted" >&2
  if grep -qE "^[#[:space:]]*${wanted//./\\.} $charset\$" /etc/locale.gen 2>/dev/null; then
    $sudo sed -i -E "s/^[#[:space:]]*(${wanted//./\\.} $charset)\$/\1/" /etc/locale.gen
  else
    echo "$wanted $charset" | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null 2>&1 || { echo "locale-gen failed" >&2; return 1; }
  host_locale_works "$wanted" || { echo "the locale $wanted does not work after locale-gen" >&2; return 1; }
}

# wine_locale DIR: what a Windows program under Wine (WINEPREFIX, with the environment's LANG and LC_*) is given:
# prints "<user locale name> <ANSI code page>", such as "zh-CN 936". The probe is built into DIR.
wine_locale() {
  local dir=$1
  x86_64-w64-mingw32-gcc-posix -O1 -o "$dir/locale-probe.exe" "$locale_lib/locale-probe.c" -lkernel32 ||
    { echo "building the locale probe failed" >&2; return 1; }
  wine "$dir/locale-probe.exe" 2>/dev/null | tr -d '\r'
}
