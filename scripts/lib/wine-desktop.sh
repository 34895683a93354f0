# shellcheck shell=bash
# Sourced by the roads that drive a Windows program under Wine on a virtual display, as a user would, from outside:
#   . scripts/lib/wine-desktop.sh; read_menu_bar app/main_window.cpp
# The caller defines fail MESSAGE (ends the road) and shot NAME (a picture), and sets main to the main window's id
# before it types keys or opens menus.

xd() { LC_ALL=C.UTF-8 LANG=C.UTF-8 xdotool "$@"; }

# The visible windows whose name matches the glob pattern. Names are compared here rather than by xdotool's own
# search, whose patterns miss Chinese names that Wine gives in some locales.
named() {
  local id
  for id in $(xd search --onlyvisible --name . 2>/dev/null); do
    # shellcheck disable=SC2053
    [[ $(xd getwindowname "$id" 2>/dev/null) == $1 ]] && echo "$id"
  done
  return 0
}
# The Windows program a window belongs to, as the command line of its Wine process shows it.
window_program() {
  local pid
  pid=$(xd getwindowpid "$1" 2>/dev/null) || { echo "no process"; return 0; }
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null || echo "process $pid"
}
# window PATTERN SECONDS [PROGRAM]: waits for a visible window whose name matches and, when given, whose program's
# command line matches PROGRAM, and prints its id.
window() {
  local id found
  for _ in $(seq $(($2 * 5))); do
    for id in $(named "$1"); do
      # shellcheck disable=SC2053
      if [[ -z ${3:-} || $(window_program "$id") == $3 ]]; then found=$id; fi
    done
    [ -n "${found:-}" ] && { echo "$found"; return 0; }
    sleep 0.2
  done
  return 1
}
gone() {
  for _ in $(seq $(($2 * 5))); do
    [ -z "$(named "$1")" ] && return 0
    sleep 0.2
  done
  return 1
}
# Every visible window with its program, for a failure's report.
windows_on_screen() {
  local id
  for id in $(xd search --onlyvisible --name . 2>/dev/null); do
    echo "window on screen: $(xd getwindowname "$id" 2>/dev/null) ($(window_program "$id"))"
  done
}
keys() { xd windowfocus --sync "$main" 2>/dev/null || true; sleep 0.3; xd key --delay 150 "$@"; }

# Qt draws the menu bar and its menus itself: no Win32 menu, no window per item, nothing xdotool or Wine could find an
# item by, and the items have no mnemonics. So the steps name the menu and the item, and the keys that reach them are
# counted on the menu bar as the program builds it (bar->addMenu / addAction in order, each menu's addAction in
# order); every step then checks by name the window its action opens.
read_menu_bar() {
  menu_source=$1
  mapfile -t menu_bar < <(sed -n 's/^[[:space:]]*\([A-Za-z]*\) = bar->add\(Menu\|Action\)(QStringLiteral("\([^"]*\)")).*/\3 \1/p' "$menu_source")
  [ ${#menu_bar[@]} -gt 0 ] || fail "no menu bar read from $menu_source"
}
# menu MENU [ITEM]: Alt, Right to MENU, then Down into it and to ITEM, Return. Without ITEM, MENU is an action on the
# bar itself.
menu() {
  local name=$1 item=${2:-} steps=(alt) at=-1 i variable entries
  for i in "${!menu_bar[@]}"; do
    if [ "${menu_bar[i]% *}" = "$name" ]; then at=$i; variable=${menu_bar[i]##* }; fi
  done
  [ "$at" -ge 0 ] || fail "no menu $name on the bar ($menu_source)"
  for _ in $(seq "$at"); do steps+=(Right); done
  if [ -n "$item" ]; then
    mapfile -t entries < <(sed -n "s/^[[:space:]]*[A-Za-z]* = $variable->addAction(QStringLiteral(\"\([^\"]*\)\")).*/\1/p" "$menu_source")
    at=-1
    for i in "${!entries[@]}"; do [ "${entries[i]}" = "$item" ] && at=$i; done
    [ "$at" -ge 0 ] || fail "no item $item in the menu $name ($menu_source)"
    steps+=(Down)
    for _ in $(seq "$at"); do steps+=(Down); done
  fi
  keys "${steps[@]}" Return
}
# message_text BOX: what a message box says, as its program copies it on Ctrl+C (Windows' own boxes do, and so does
# Qt's on Windows: its title, its text and its buttons between dashed lines), read back from the clipboard Wine shares
# with the virtual display. A Qt window draws its text itself: nothing else from outside can read it.
message_text() {
  local text=""
  xd windowfocus --sync "$1" 2>/dev/null || true
  sleep 0.3
  xd key ctrl+c
  for _ in $(seq 25); do
    text=$(LC_ALL=C.UTF-8 xclip -selection clipboard -o 2>/dev/null | tr -d '\r') && [ -n "$text" ] && break
    sleep 0.2
  done
  printf '%s\n' "$text"
}
# dismiss_message LABEL TITLE SECONDS [PROGRAM]: a message box is titled with its program's name; its button takes
# Return.
dismiss_message() {
  local box
  box=$(window "$2" "$3" "${4:-}") || fail "no message box $1 (a window named $2)"
  shot "$1"
  xd windowfocus --sync "$box" 2>/dev/null || true
  sleep 0.3
  xd key Return
  gone "$2" 10 || fail "the message box $1 stayed"
}
