# Sourced by tools/test, tools/demo and tools/bench: Wine's loader for a preset, and Wine
# server sessions that never hold their caller's output open.

DP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DP_TOOLS=$DP_ROOT/tools
. "$DP_TOOLS/wine-paths"

# wine_loader <preset>: the loader the preset's tool-chain file names.
wine_loader() {
  python3 "$DP_TOOLS/wine_tools.py" loader "$1"
}

dp_wine_sessions=()

# wine_session_start <loader> <prefix>: makes the prefix if needed and keeps a persistent
# server for it until the script exits (about 2.5 s saved per process start). The server's
# streams go to /dev/null, and one throw-away process starts the session: the services it
# starts inherit that process's streams and keep them open while the server lives, which
# would leave whoever reads our output (ctest, CI) waiting.
wine_session_start() {
  local loader=$1 prefix=$2
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "cannot run Wine's loader $loader on this host; run tools/setup as root" >&2
    return 1
  fi
  "$DP_ROOT/tools/wine-run" "$loader" "$prefix" </dev/null >/dev/null 2>&1
  # A server left over from an earlier run would time out under us and be replaced by one
  # that a test process starts, with that process's streams.
  WINEPREFIX="$prefix" "$DP_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  # The server detaches itself once it is ready.
  WINEPREFIX="$prefix" "$DP_WINESERVER" -p </dev/null >/dev/null 2>&1
  dp_wine_sessions+=("$prefix")
  wine_stop_at_exit
  "$DP_ROOT/tools/wine-run" "$loader" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Adds wine_sessions_stop to the caller's exit trap, keeping whatever the trap did before.
wine_stop_at_exit() {
  local current
  current=$(trap -p EXIT)
  current=${current#"trap -- "}
  current=${current%" EXIT"}
  eval "current=${current:-''}"
  case "$current" in *wine_sessions_stop*) return ;; esac
  trap "wine_sessions_stop${current:+; $current}" EXIT
}

wine_sessions_stop() {
  local prefix
  for prefix in "${dp_wine_sessions[@]}"; do
    WINEPREFIX="$prefix" "$DP_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  done
  dp_wine_sessions=()
}
