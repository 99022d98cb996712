# Sourced by the two commands (scripts/demo.sh, scripts/test.sh): runs each
# step with its output in a log file and shows one line for it, so that what
# the package manager and the builds print does not bury the result.
#
#   step TEXT LOG COMMAND...   runs COMMAND (a program or a shell function,
#                              in this shell so that what it sets stays),
#                              its output appended to LOG, and prints
#                              "TEXT… done (N s)"
#
#   step_begin TEXT LOG COMMAND... [--then TEXT LOG COMMAND...]...
#   step_end                   the same, the steps run one after the other
#                              in the background (in a subshell, in a
#                              process group of its own) from step_begin on,
#                              and their lines printed when step_end has
#                              waited for them: for builds and tests that
#                              can use the core a single-threaded step
#                              leaves idle. One sequence at a time; a failing
#                              step ends it.
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
# The background steps that ended, one line each: status, seconds, start,
# CPU ticks, log, text (tab-separated).
background_steps=

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
  # Background steps that ended (and were reaped) meanwhile added their CPU
  # time to this shell's, and wrote it on their logs' last lines.
  if [ -n "$background_running" ] && ! kill -0 "$background_pid" 2>/dev/null; then
    local status seconds start used log text
    while IFS=$'\t' read -r status seconds start used log text; do
      ticks=$((ticks - used))
    done <"$background_steps"
  fi
  log_times "$step_log" "$step_start" "$ticks"
  printf 'done (%d s)\n' $((SECONDS - step_start))
  step_log=
}

step_begin() {
  background_steps=$(mktemp)
  # Job control while it starts: the subshell gets a process group that the
  # EXIT trap can end as a whole (make and the compilers under it).
  set -m
  (
    local text log start ticks status command subshell=$BASHPID
    while [ $# -gt 0 ]; do
      text=$1
      log=$2
      shift 2
      command=()
      while [ $# -gt 0 ] && [ "$1" != --then ]; do
        command+=("$1")
        shift
      done
      if [ $# -gt 0 ]; then shift; fi
      mkdir -p "$(dirname "$log")"
      start=$SECONDS
      ticks=$(cpu_ticks "$subshell")
      # A subshell of its own, waited for, so that set -e holds in it.
      (
        set -e
        "${command[@]}"
      ) >>"$log" 2>&1 &
      status=0
      wait "$!" || status=$?
      ticks=$(($(cpu_ticks "$subshell") - ticks))
      log_times "$log" "$start" "$ticks"
      printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$status" $((SECONDS - start)) "$start" "$ticks" "$log" "$text" \
        >>"$background_steps"
      if [ "$status" -ne 0 ]; then exit "$status"; fi
    done
  ) </dev/null &
  background_pid=$!
  set +m
}

step_end() {
  local ended=0 status seconds start used log text
  wait "$background_pid" || ended=$?
  background_pid=
  while IFS=$'\t' read -r status seconds start used log text; do
    printf '%s… ' "$text"
    if [ "$status" -ne 0 ]; then
      rm -f "$background_steps"
      step_log=$log
      step_start=$start
      exit "$status"
    fi
    printf 'done (%d s)\n' "$seconds"
  done <"$background_steps"
  rm -f "$background_steps"
  # Ended before a step of it could say so (killed, say).
  if [ "$ended" -ne 0 ]; then
    printf 'the background steps ended with status %d\n' "$ended"
    exit "$ended"
  fi
}

step_report() {
  local status=$?
  if [ -n "$background_pid" ]; then
    kill -- "-$background_pid" 2>/dev/null || true
    rm -f "$background_steps"
  fi
  if [ "$status" -ne 0 ] && [ -n "$step_log" ]; then
    printf 'failed (%d s)\n\n' $((SECONDS - step_start))
    tail -n 40 "$step_log"
    printf '\nThe whole log: %s\n' "$step_log"
  fi
  return "$status"
}
trap step_report EXIT
