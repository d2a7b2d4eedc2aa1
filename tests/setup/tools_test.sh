#!/usr/bin/env bash
# The shell helpers the README's commands rest on, without Wine or a package manager:
# wine-env.sh keeps its caller's exit trap, wine-run stops plainly when no prefix can be
# made, exit-code gives back the whole 32-bit code.
. "$(dirname "$0")/check.sh"

got=$(bash -c ". '$root/tools/wine-env.sh'; trap 'echo caller ran' EXIT; wine_stop_at_exit; wine_stop_at_exit; trap -p EXIT" | head -n 1)
check "wine-env adds its stop to the caller's trap once" \
  '[ "$got" = "trap -- '"'"'wine_sessions_stop; echo caller ran'"'"' EXIT" ]'
got=$(bash -c ". '$root/tools/wine-env.sh'; trap 'echo caller ran' EXIT; wine_stop_at_exit" 2>&1)
check "the caller's trap still runs" '[ "$got" = "caller ran" ]'

got=$("$root/tools/wine-run" /bin/false "$work/prefix" 2>&1)
status=$?
check "wine-run fails when the prefix cannot be made" '[ $status -eq 1 ]'
check "wine-run says so plainly" '[[ $got == *"cannot make the Wine prefix $work/prefix with /bin/false (wineboot exit 1)"* ]]'

printf 'a.exe:Deployment Packager Wrapper:BuildPackage finished. Result code = -2147180539 \r\n' >"$work/out"
got=$("$root/tools/exit-code" 5 "$work/out")
check "exit-code: a library status whole" '[ "$got" = "2147786757 (0x8004A005)" ]'
got=$("$root/tools/exit-code" 1 /dev/null)
check "exit-code: a refused command line" '[ "$got" = "1 (0x00000001)" ]'
got=$("$root/tools/exit-code" 9 "$work/out")
check "exit-code: a report that does not match the status is not taken" '[ "$got" = "9 (0x00000009)" ]'

# A ctest log entry: name, output, seconds, Passed or Failed.
entry() {
  printf '1/9 Testing: %s\n1/9 Test: %s\nCommand: "x"\nDirectory: /d\n"%s" start time: now\n' "$1" "$1" "$1"
  printf 'Output:\n----------------------------------------------------------\n%s<end of output>\n' "$2"
  printf 'Test time =   %s sec\n----------------------------------------------------------\nTest %s.\n\n' "$3" "$4"
}
{ entry A.Ran $'[ RUN ] A.Ran\n' 0.20 Passed; entry B.Silent "" 0.01 Failed; entry C.Silent "" 0.02 Failed; } >"$work/log"
got=$("$root/tools/unstarted-tests" "$work/log")
check "unstarted-tests names the failed tests that printed nothing" '[ "$got" = "B.Silent C.Silent" ]'
entry D.Said $'Failure\n' 0.01 Failed >>"$work/log"
got=$("$root/tools/unstarted-tests" "$work/log")
status=$?
check "unstarted-tests: none, when a failed test said anything" '[ $status -eq 1 ] && [ -z "$got" ]'
{ entry B.Silent "" 0.01 Failed; entry E.Hung "" 180.00 Failed; } >"$work/log"
"$root/tools/unstarted-tests" "$work/log" >/dev/null
status=$?
check "unstarted-tests: none, when a silent test ran for long" '[ $status -eq 1 ]'
entry A.Ran "ok" 0.20 Passed >"$work/log"
"$root/tools/unstarted-tests" "$work/log" >/dev/null
status=$?
check "unstarted-tests: none, when nothing failed" '[ $status -eq 1 ]'

finish tools_test
