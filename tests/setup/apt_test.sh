#!/usr/bin/env bash
# tools/apt.sh against stand-in apt-get programs on PATH that fail as package mirrors do. The
# machine's own package state is never touched: every apt-get this test runs is a stand-in.
. "$(dirname "$0")/check.sh"

# stand_in <behaviour>: an apt-get that records its calls in $work/calls and behaves as told:
#   flaky-once  update fails once as a mirror mid-sync does, then everything works
#   always      update always fails so; install then meets unmet dependencies, also when
#               asked for the release's own versions
#   stale-update update always fails so; install meets unmet dependencies unless asked for
#               the release's own versions (-t bookworm)
#   missing     update works; install finds no such package
stand_in() {
  mkdir -p "$work/bin"
  cat >"$work/bin/apt-get" <<STANDIN
#!/usr/bin/env bash
echo "\$*" >> "$work/calls"
verb=update; for a in "\$@"; do [ "\$a" = install ] && verb=install; done
count=\$(grep -c "\$verb" "$work/calls")
mid_sync() {
  echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
}
case "$1:\$verb" in
  flaky-once:update) [ "\$count" -eq 1 ] && mid_sync; exit 0 ;;
  always:update) mid_sync ;;
  always:install|stale-update:install)
    if [ "$1" = stale-update ] && [[ " \$* " == *" -t bookworm "* ]]; then exit 0; fi
    echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  stale-update:update) mid_sync ;;
  missing:install) echo "E: Unable to locate package nosuchpkg"; exit 100 ;;
esac
exit 0
STANDIN
  chmod +x "$work/bin/apt-get"
  rm -f "$work/calls"
}

# run <behaviour>: the update and install that tools/setup makes, in a shell of its own.
run() {
  stand_in "$1"
  PATH="$work/bin:$PATH" DP_APT_TRIES=3 DP_APT_PAUSE=0 TMPDIR="$work" bash -c "
    . '$root/tools/apt.sh'
    apt_update -o Dir::Etc::SourceList=private.list
    apt_install -o Dir::Etc::SourceList=private.list -- wine32:i386 ${2:-}
    echo installed" >"$work/out" 2>&1
  status=$?
  out=$(cat "$work/out")
  got=$out
}

run flaky-once
check "a mirror that fails once: installed" '[ $status -eq 0 ] && [[ $out == *installed ]]'
check "a mirror that fails once: one retry, said so" \
  '[ "$(grep -c update "$work/calls")" -eq 2 ] && [[ $out == *"retrying in 0 s (try 1 of 3)"* ]]'
check "a mirror that fails once: apt options passed on" \
  '! grep -vq -- "-o Dir::Etc::SourceList=private.list" "$work/calls"'

run always
check "a mirror that always fails: exit 1" '[ $status -eq 1 ] && [[ $out != *installed ]]'
check "a mirror that always fails: bounded tries" '[ "$(grep -c update "$work/calls")" -eq 3 ]'
check "a mirror that always fails: the install is still tried, then from the release" \
  '[ "$(grep -c install "$work/calls")" -eq 2 ] && grep -q -- "-t bookworm" "$work/calls"'
check "a mirror that always fails: one plain line names the index and says mid-sync" \
  '[ "$(grep -c "^setup: cannot install" <<<"$out")" -eq 1 ] &&
   [[ $out == *"cannot install wine32:i386: the index http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz (File has unexpected size (374820 != 376004). Mirror sync in progress?) did not update; the mirror looks mid-sync, retry later"* ]]'

run stale-update
check "a stale update index: installed from the release itself, and said so" \
  '[ $status -eq 0 ] && [[ $out == *installed ]] &&
   [[ $out == *"bookworm-security'"'"'s index is stale, so installing from bookworm itself"* ]]'

run missing nosuchpkg
check "a missing package: exit 1 naming it" \
  '[ $status -eq 1 ] && [[ $out == *"setup: cannot install: package nosuchpkg is missing from the mirror'"'"'s index"* ]]'
check "a missing package: not called mid-sync, and no second try" \
  '[[ $out != *mid-sync* ]] && [ "$(grep -c install "$work/calls")" -eq 1 ]'

if [ -n "${DP_APT_TEST_SHOW:-}" ]; then for b in flaky-once always stale-update; do run $b; echo "== $b (exit $status)"; echo "$out"; done; fi
finish apt_test
