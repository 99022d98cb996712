# Sourced by the two commands (scripts/demo.sh, scripts/test.sh): runs each
# step with its output in a log file and shows one line for it, so that what
# the package manager and the builds print does not bury the result.
#
#   step TEXT LOG COMMAND...   runs COMMAND (a program or a shell function,
#                              in this shell so that what it sets stays),
#                              its output appended to LOG, and prints
#                              "TEXT… done (N s)"
#
# A failing command ends the script (set -e); the EXIT trap then prints
# "failed", the last 40 lines of the step's log and the log's path. A script
# with an EXIT trap of its own calls step_report first in it.

step_log=

step() {
  local text=$1
  step_log=$2
  shift 2
  mkdir -p "$(dirname "$step_log")"
  printf '%s… ' "$text"
  step_start=$SECONDS
  # No standard input: a step must not wait for a prompt (CI has none).
  "$@" >>"$step_log" 2>&1 </dev/null
  printf 'done (%d s)\n' $((SECONDS - step_start))
  step_log=
}

step_report() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -n "$step_log" ]; then
    printf 'failed (%d s)\n\n' $((SECONDS - step_start))
    tail -n 40 "$step_log"
    printf '\nThe whole log: %s\n' "$step_log"
  fi
  return "$status"
}
trap step_report EXIT
