#!/usr/bin/env bash
# install-deps.sh when the mirror is in the middle of a sync: apt-get,
# dpkg-query and sudo are stand-ins on PATH (nothing is installed), apt's
# sources are files of the test's own (APT_CONFIG), and the failed update
# is what apt 2.6 printed for the security index of i386 during a sync.
#
#   install_deps_test.sh SCRIPTS
set -uo pipefail
scripts=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/install-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}

mkdir -p "$work/bin" "$work/etc/sources.list.d"
cat >"$work/etc/sources.list" <<'SOURCES'
deb http://deb.debian.org/debian bookworm main
deb [arch=amd64,i386] http://deb.debian.org/debian-security/ bookworm-security main
SOURCES
cat >"$work/etc/sources.list.d/debian.sources" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
cat >"$work/apt.conf" <<CONF
Dir::Etc::sourcelist "$work/etc/sources.list";
Dir::Etc::sourceparts "$work/etc/sources.list.d";
CONF
export APT_CONFIG=$work/apt.conf

cat >"$work/update-failed.log" <<'APT'
Hit:1 http://deb.debian.org/debian bookworm InRelease
Hit:2 http://deb.debian.org/debian bookworm-updates InRelease
Get:3 http://deb.debian.org/debian-security bookworm-security InRelease [48.0 kB]
Get:4 http://deb.debian.org/debian-security bookworm-security/main i386 Packages [179 kB]
Err:4 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (183224 != 179412). Mirror sync in progress? [IP: 151.101.2.132 80]
  Hashes of expected file:
   - Filesize:179412 [weak]
   - SHA256:0c4b9d2cf1a5f0e8cb4a0d9b4c6d2e86a6f43b2f5c0d1c3a2f8e1c6d7b5a4f39
  Release file created at: Tue, 08 Dec 2026 11:52:11 +0000
Fetched 48.0 kB in 1s (52.3 kB/s)
Reading package lists...
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (183224 != 179412). Mirror sync in progress? [IP: 151.101.2.132 80]
   Hashes of expected file:
    - Filesize:179412 [weak]
    - SHA256:0c4b9d2cf1a5f0e8cb4a0d9b4c6d2e86a6f43b2f5c0d1c3a2f8e1c6d7b5a4f39
   Release file created at: Tue, 08 Dec 2026 11:52:11 +0000
E: Some index files failed to download. They have been ignored, or old ones used instead.
APT

# apt-get: each call goes to calls.log; an update fails while the file
# "failing" holds a number above 0 (counted down), an install fails when
# "unavailable" exists, and shows the sources it was given.
cat >"$work/bin/apt-get" <<STUB
#!/usr/bin/env bash
echo "apt-get \$*" >>"$work/calls.log"
if [ "\$*" = "update -q" ]; then
  left=\$(cat "$work/failing")
  [ "\$left" -gt 0 ] || exit 0
  echo \$((left - 1)) >"$work/failing"
  cat "$work/update-failed.log"
  exit 100
fi
while [ \$# -gt 0 ]; do
  case "\$1" in
    -o) echo "\$2" >>"$work/calls.log"; shift 2 ;;
    *) shift ;;
  esac
done
list=\$(sed -n 's/^Dir::Etc::sourcelist=//p' "$work/calls.log" | tail -n 1)
parts=\$(sed -n 's/^Dir::Etc::sourceparts=//p' "$work/calls.log" | tail -n 1)
[ -z "\$list" ] || cat "\$list" "\$parts"/* >"$work/given-sources"
[ ! -e "$work/unavailable" ] || { echo "E: Unable to locate package fitsverify"; exit 100; }
STUB
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"  # nothing is installed
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" TARNSCSI_APT_ATTEMPTS=2 TARNSCSI_APT_PAUSE=0

# run NAME FAILING-UPDATES: install-deps.sh tools, output in $work/out.
run() {
  rm -f "$work/calls.log" "$work/given-sources"
  echo "$2" >"$work/failing"
  bash "$scripts/install-deps.sh" tools >"$work/out" 2>&1
}
packages=$(grep -v '^\s*\(#\|$\)' "$scripts/packages/tools.txt" | paste -sd ' ')

# The mirror is right again at the second attempt: every source is used.
run "second attempt" 1 || fail "second attempt: exit $?: $(cat "$work/out")"
grep -q "could not fetch:" "$work/out" || fail "second attempt: the failed index was not said"
[ "$(grep -c '^apt-get update' "$work/calls.log")" -eq 2 ] || fail "second attempt: updates: $(cat "$work/calls.log")"
! grep -q 'Dir::Etc::source' "$work/calls.log" || fail "second attempt: a source was left out"

# Still failing after every attempt: said loudly with the index and apt's
# reason, then every package is installed from the other sources; the
# security source is left out whole (its amd64 index too).
run "still failing" 5 || fail "still failing: exit $?: $(cat "$work/out")"
[ "$(grep -c '^apt-get update' "$work/calls.log")" -eq 2 ] || fail "still failing: updates: $(cat "$work/calls.log")"
grep -qF "!!!   http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz" "$work/out" &&
  grep -qF "Mirror sync in progress?" "$work/out" || fail "still failing: the index and the reason were not said: $(cat "$work/out")"
grep -q "^apt-get .*install -y -q --no-install-recommends $packages\$" "$work/calls.log" ||
  fail "still failing: not every package installed: $(cat "$work/calls.log")"
sources=$(grep -v '^#' "$work/given-sources" 2>/dev/null)
if grep -q "security" <<<"$sources" || ! grep -q "^deb http://deb.debian.org/debian bookworm main" <<<"$sources" ||
   ! grep -qx "Suites: bookworm bookworm-updates" <<<"$sources" ||
   ! grep -qx "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" <<<"$sources"; then
  fail "still failing: the sources given to the install are not all but security's:"
  cat "$work/given-sources" >&2
fi

# A package that the other sources lack: a clear failure, nothing skipped.
touch "$work/unavailable"
run "unavailable" 5 && fail "unavailable: exit 0"
grep -q "Unable to locate package" "$work/out" && grep -q "failed from the sources that answered" "$work/out" ||
  fail "unavailable: not said: $(cat "$work/out")"

if [ "$failures" -ne 0 ]; then
  echo "$failures install-deps checks failed" >&2
  exit 1
fi
echo "install-deps checks passed"
