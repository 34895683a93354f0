# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine:   . scripts/lib/wine-session.sh; wine_session "$build"
# wine_session BUILD-DIR: the Wine prefix lives in the build directory unless WINEPREFIX is already set, so a fresh
# build directory also gets a fresh prefix; the prefix's own wineserver is kept alive until the sourcing script ends
# (or wine_session_end), instead of being restarted for every program.
# shellcheck source=scripts/lib/on-exit.sh
[ -n "$(type -t on_exit)" ] || . "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"

wine_session_started=0

wine_session_end() {
  if [ "$wine_session_started" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  wine_session_started=0
}
on_exit wine_session_end

wine_session() {
  export WINEPREFIX=${WINEPREFIX:-$1/wineprefix}
  export WINEDEBUG=${WINEDEBUG:--all}
  mkdir -p "$WINEPREFIX"
  if wineserver -p 2>/dev/null; then wine_session_started=1; fi
  [ -f "$WINEPREFIX/system.reg" ] || echo "Creating the Wine prefix $WINEPREFIX"
  # The prefix's background processes start now, with their output going nowhere: started by the first test program
  # instead, they would inherit its output pipes and stay, so ctest would wait for that program until its timeout.
  # No Mono or Gecko, whose installers would ask questions.
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i </dev/null >/dev/null 2>&1
}
