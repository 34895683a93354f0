# shellcheck shell=bash
# Sourced by the scripts that run the demo server (a native program) beside a Windows program:
#   . scripts/lib/demo-server.sh; demo_server_build; demo_server_start NAME LOG [options...]
# Every server and relay started here is ended when the script ends (scripts/lib/on-exit.sh).
# shellcheck source=scripts/lib/on-exit.sh
[ -n "$(type -t on_exit)" ] || . "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"

declare -A demo_server_pids=() demo_server_ports=()
demo_server_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# demo_server_build: builds the demo server in the native build (repository/build), sets demo_server_program.
demo_server_build() {
  local native
  native=$(cd "$demo_server_lib/../.." && pwd)/build
  [ -f "$native/CMakeCache.txt" ] || cmake -S "$native/.." -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
    { echo "configuring the native build for the demo server failed" >&2; return 1; }
  cmake --build "$native" -j2 --target vextal-demo-server >/dev/null ||
    { echo "building the demo server failed" >&2; return 1; }
  demo_server_program=$native/tools/demo-server/vextal-demo-server
}

# demo_server_stop NAME: ends the server or relay started under NAME and waits for it.
demo_server_stop() {
  local pid=${demo_server_pids[$1]:-}
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset "demo_server_pids[$1]" "demo_server_ports[$1]"
}
demo_server_stop_all() {
  local name
  for name in "${!demo_server_pids[@]}"; do demo_server_stop "$name"; done
}
on_exit demo_server_stop_all

# Waits up to a minute for the "listening on 127.0.0.1:PORT" line of the process started under NAME.
demo_server_wait() {
  local name=$1 log=$2 port
  for _ in $(seq 600); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log")
    if [ -n "$port" ]; then
      demo_server_ports[$name]=$port
      return 0
    fi
    kill -0 "${demo_server_pids[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  demo_server_stop "$name"
  echo "$name did not start: $(cat "$log")" >&2
  return 1
}

# demo_server_start NAME LOG [options...]: a demo server on a port the system picks free, its output in LOG; the port
# is then ${demo_server_ports[NAME]}. No port is ever given: one freed by a kill may still be held by its closing
# connections or taken by another program meanwhile.
demo_server_start() {
  local name=$1 log=$2
  shift 2
  [ -n "${demo_server_program:-}" ] || demo_server_build
  [ -z "${demo_server_pids[$name]:-}" ] || { echo "$name runs already" >&2; return 1; }
  "$demo_server_program" --port 0 --quiet "$@" >"$log" 2>&1 &
  demo_server_pids[$name]=$!
  demo_server_wait "$name" "$log"
}

# demo_relay_start NAME DIR TARGET-NAME: a relay on a free port that passes every connection to the server started
# under TARGET-NAME, for an origin built into a program that must reach another server later (demo_relay_point):
# the relay's port stays, the servers behind it each get their own.
demo_relay_start() {
  local name=$1 dir=$2 target=$3
  mkdir -p "$dir"
  demo_relay_point "$name" "$target" "$dir/$name.target"
  perl "$demo_server_lib/relay.pl" "$dir/$name.target" >"$dir/$name.log" 2>&1 &
  demo_server_pids[$name]=$!
  demo_server_wait "$name" "$dir/$name.log"
}

# demo_relay_point NAME TARGET-NAME [FILE]: from the next connection on, the relay NAME passes to TARGET-NAME.
declare -A demo_relay_files=()
demo_relay_point() {
  local name=$1 target=$2 file=${3:-${demo_relay_files[$1]:-}}
  [ -n "${demo_server_ports[$target]:-}" ] || { echo "no server $target for the relay $name" >&2; return 1; }
  demo_relay_files[$name]=$file
  # Renamed into place: the relay never reads half a port.
  echo "${demo_server_ports[$target]}" >"$file.new" && mv "$file.new" "$file"
}
