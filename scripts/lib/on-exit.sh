# shellcheck shell=bash
# Sourced first by the scripts that start processes:   . scripts/lib/on-exit.sh
# on_exit COMMAND...: runs COMMAND when the script ends, however it ends (an error, exit, Ctrl-C, a TERM from a
# timeout), the last registered first. The trap is set here, once, before the script starts anything, so a process
# started by any later step is ended even when a step between its start and the next trap would have failed.
on_exit_commands=()
on_exit() { on_exit_commands+=("$*"); }
on_exit_run() {
  local i
  for ((i = ${#on_exit_commands[@]} - 1; i >= 0; i--)); do eval "${on_exit_commands[i]}" || true; done
  on_exit_commands=()
}
trap on_exit_run EXIT
# A signal ends the script through exit, so the EXIT trap runs for it too.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
