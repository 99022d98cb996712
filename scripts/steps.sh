# Sourced by the two commands (scripts/demo.sh, scripts/test.sh): runs each
# step with its output in a log file and shows one line for it, so that what
# the package manager and the builds print does not bury the result.
#
#   step TEXT LOG COMMAND...   runs COMMAND (a program or a shell function,
#                              in this shell so that what it sets stays),
#                              its output appended to LOG, and prints
#                              "TEXT… done (N s)"
#
#   step_begin TEXT LOG COMMAND...
#   step_end                   the same, COMMAND run in the background (in a
#                              subshell, in a process group of its own) from
#                              step_begin on, and its line printed when
#                              step_end has waited for it: for a build that
#                              can use the core a single-threaded step
#                              leaves idle. One at a time.
#
# Each log ends with the step's wall time and the CPU time (user and system)
# of the processes it waited for: on a machine others share too, the CPU
# time tells what the step costs.
#
# A failing command ends the script (set -e); the EXIT trap then prints
# "failed", the last 40 lines of the step's log and the log's path, and ends
# a background step still running. A script with an EXIT trap of its own
# calls step_report first in it.

step_log=
background_pid=

# cpu_ticks PID: the CPU time of the shell PID and of the children it has
# waited for, in clock ticks.
cpu_ticks() {
  local fields
  read -r fields <"/proc/$1/stat"
  set -- ${fields##*) }
  echo $(( ${12} + ${13} + ${14} + ${15} ))
}
# log_times LOG START TICKS: the closing line of LOG, for a step begun at
# SECONDS=START that took TICKS of CPU time.
log_times() {
  printf '== wall %d s, CPU %d s\n' $((SECONDS - $2)) $(($3 / $(getconf CLK_TCK))) >>"$1"
}

step() {
  local text=$1
  step_log=$2
  shift 2
  mkdir -p "$(dirname "$step_log")"
  printf '%s… ' "$text"
  step_start=$SECONDS
  local ticks background_running=
  ticks=$(cpu_ticks $$)
  if [ -n "$background_pid" ] && kill -0 "$background_pid" 2>/dev/null; then background_running=1; fi
  # No standard input: a step must not wait for a prompt (CI has none).
  "$@" >>"$step_log" 2>&1 </dev/null
  ticks=$(($(cpu_ticks $$) - ticks))
  # A background step that ended (and was reaped) meanwhile added its CPU
  # time to this shell's, and wrote it on its log's last line.
  if [ -n "$background_running" ] && ! kill -0 "$background_pid" 2>/dev/null; then
    ticks=$((ticks - $(sed -n 's/^== wall .* s, CPU \([0-9]*\) s$/\1/p' "$background_log") * $(getconf CLK_TCK)))
  fi
  log_times "$step_log" "$step_start" "$ticks"
  printf 'done (%d s)\n' $((SECONDS - step_start))
  step_log=
}

step_begin() {
  background_text=$1
  background_log=$2
  shift 2
  mkdir -p "$(dirname "$background_log")"
  background_start=$SECONDS
  # Job control while it starts: the subshell gets a process group that the
  # EXIT trap can end as a whole (make and the compilers under it).
  set -m
  (
    set -e
    "$@"
    subshell=$BASHPID
    log_times "$background_log" "$background_start" "$(cpu_ticks "$subshell")"
  ) >>"$background_log" 2>&1 </dev/null &
  background_pid=$!
  set +m
}

step_end() {
  local status=0
  wait "$background_pid" || status=$?
  background_pid=
  printf '%s… ' "$background_text"
  if [ "$status" -ne 0 ]; then
    step_log=$background_log
    step_start=$background_start
    exit "$status"
  fi
  printf 'done (%d s)\n' $((SECONDS - background_start))
}

step_report() {
  local status=$?
  if [ -n "$background_pid" ]; then
    kill -- "-$background_pid" 2>/dev/null || true
  fi
  if [ "$status" -ne 0 ] && [ -n "$step_log" ]; then
    printf 'failed (%d s)\n\n' $((SECONDS - step_start))
    tail -n 40 "$step_log"
    printf '\nThe whole log: %s\n' "$step_log"
  fi
  return "$status"
}
trap step_report EXIT
