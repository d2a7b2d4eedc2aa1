# Sourced by the shell tests: a scratch folder removed at exit, and `check <what> <condition>`,
# which counts and names every condition that does not hold; `finish <name>` ends the test.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
got=

check() {
  if ! eval "$2"; then
    echo "FAIL: $1"
    echo "  got: $got"
    failures=$((failures + 1))
  fi
}

finish() {
  [ $failures -eq 0 ] && echo "$1: all checks passed"
  exit $((failures > 0))
}
