#!/usr/bin/env bash
# The guest where a newcomer's clone may lie: the source and build trees are
# reached through a folder in /tmp whose name has a space (links to them),
# and the guest, given a /tmp of its own, must still find the checks, the
# build and its installation there.
#   guest_paths_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
place=$(mktemp -d "/tmp/tarnscsi guest paths.XXXXXX")
ln -s "$source_dir" "$place/source tree"
ln -s "$build" "$place/build tree"
status=0
bash "$place/source tree/tests/kernel/run-guest.sh" --build "$place/build tree" --out "$place/out" --install \
  --time-limit 300 -- guest_files || status=$?
# Kept when it failed, for its console.
if [ "$status" -eq 0 ]; then
  rm -rf "$place"
else
  echo "The guest's files are kept in $place"
fi
exit "$status"
