# Sourced by tools/setup and tools/qemu/enable-x86: apt-get that waits out a mirror in the
# middle of a sync and, when it cannot, says in one plain line what failed. Extra arguments
# before "--" (or all of them, for apt_update) are apt options, such as a private source list.
# DP_APT_TRIES (default 5) and DP_APT_PAUSE (first pause in seconds, default 5, doubling)
# bound the waiting: about 75 s in all by default.

dp_apt_log=${TMPDIR:-/tmp}/dp-setup-apt.log
dp_apt_index_problem=  # set by apt_update when indexes still fail: "<index> (<reason>)"

# apt_failed_fetch <log>: "<url> (<reason>)" of the first failed fetch apt printed, if any.
apt_failed_fetch() {
  sed -n 's/^E: Failed to fetch \([^ ]*\)  *\(.*\)$/\1 (\2)/p; s/^Err:[0-9]* \([^ ]*\) .*$/\1/p' "$1" |
    sed 's/ \[IP: [^]]*\]//' | head -n 1
}

# apt_mid_sync <text>: true when a failure reads like a mirror caught in the middle of a sync.
apt_mid_sync() {
  grep -qiE 'unexpected size|hash sum mismatch|mirror sync in progress|checksums? mismatch|404 +not found' <<<"$1"
}

# apt_update [apt options]: apt-get update, retried with growing pauses while it fails. When
# indexes still fail it goes on (apt keeps the lists it has) and says which, so that a later
# install failure can name the cause.
apt_update() {
  local tries=${DP_APT_TRIES:-5} pause=${DP_APT_PAUSE:-5} attempt failed
  dp_apt_index_problem=
  for ((attempt = 1; ; attempt++)); do
    if apt-get "$@" update -qq >"$dp_apt_log" 2>&1; then
      return 0
    fi
    failed=$(apt_failed_fetch "$dp_apt_log")
    failed=${failed:-$(grep -m1 '^E: ' "$dp_apt_log" || echo "apt-get update failed")}
    if ((attempt >= tries)); then
      break
    fi
    echo "setup: package index failed: $failed; retrying in $pause s (try $attempt of $tries)"
    sleep "$pause"
    pause=$((pause * 2))
  done
  dp_apt_index_problem=$failed
  if apt_mid_sync "$failed"; then
    echo "setup: package index still failing after $tries tries, the mirror looks mid-sync: $failed; going on with the lists apt has"
  else
    echo "setup: package index still failing after $tries tries: $failed; going on with the lists apt has"
  fi
}

# apt_install [apt options] -- <packages>: installs the packages, or exits 1 with one line
# that names the package or index at fault and whether to retry later. When an update suite
# of the release (bookworm-security, say) kept a stale index, packages of several
# architectures can disagree on a library's version (a foreign one from the release, the
# native one already at the update's); the install is then tried once more from the release
# itself (apt's -t), every index still checked, and setup says so.
apt_install() {
  local options=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  apt_try_install "${options[@]}" -- "$@" && return 0
  local suite release
  suite=$(sed -n 's|.*/dists/\([^/]*\)/.*|\1|p' <<<"$dp_apt_index_problem")
  release=${suite%%-*}
  if [ -n "$suite" ] && [ "$release" != "$suite" ] && apt_mid_sync "$dp_apt_index_problem"; then
    echo "setup: $suite's index is stale, so installing from $release itself (its point release); run tools/setup again once the mirror has synced to take $suite's updates"
    apt_try_install "${options[@]}" -t "$release" -- "$@" && return 0
  fi
  apt_explain_failure "$@"
  exit 1
}

# apt_try_install [apt options] -- <packages>: one install, apt's output in the log.
apt_try_install() {
  local options=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  DEBIAN_FRONTEND=noninteractive apt-get "${options[@]}" install -y -qq \
    --no-install-recommends "$@" >"$dp_apt_log" 2>&1
}

# apt_explain_failure <packages>: the one line on a failed install.
apt_explain_failure() {
  local missing fetch
  missing=$(sed -n "s/^E: Unable to locate package \(.*\)$/\1/p; s/^E: Package '\([^']*\)' has no installation candidate$/\1/p" "$dp_apt_log" | head -n 1)
  fetch=$(apt_failed_fetch "$dp_apt_log")
  if [ -n "$dp_apt_index_problem" ] && apt_mid_sync "$dp_apt_index_problem"; then
    echo "setup: cannot install ${missing:-$*}: the index $dp_apt_index_problem did not update; the mirror looks mid-sync, retry later (apt's output: $dp_apt_log)" >&2
  elif [ -n "$fetch" ] && apt_mid_sync "$fetch"; then
    echo "setup: cannot install $*: $fetch; the mirror looks mid-sync, retry later (apt's output: $dp_apt_log)" >&2
  elif [ -n "$missing" ]; then
    echo "setup: cannot install: package $missing is missing from the mirror's index${dp_apt_index_problem:+ (and the index $dp_apt_index_problem did not update)} (apt's output: $dp_apt_log)" >&2
  else
    echo "setup: cannot install $*: $(grep -m1 '^E: ' "$dp_apt_log" || echo "apt-get install failed") (apt's output: $dp_apt_log)" >&2
  fi
}
