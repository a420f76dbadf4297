#!/usr/bin/env bash
# Runs the README's runnable commands on the simulated camera, so that the
# document cannot drift from the programs. A runnable block is a fenced
# block whose info string is "sh runnable", with these words after it:
#   exit=N       every command of the block must exit with N (default 0)
#   server=PORT  the first command is a server: it runs in the background
#                until TCP PORT on 127.0.0.1 answers, the other commands
#                run against it, then it is stopped
# Each block runs in a scratch folder of its own that stands for a clone
# after the Quick start (build/linux is this build, frames/ is there), with the programs on
# PATH as if installed, TARNSCSI_SIMULATOR naming the simulated camera and
# a simulated camera of the block's own (TARNSCSI_SIM_STATE). Simulated
# time finishes at once: time-scale=0 follows every TARNSCSI_SIM a command
# sets. Every command and the whole run are bounded.
#
# readme_commands_test.sh README BUILD_DIR SIMULATOR PROGRAM...
set -uo pipefail
readme=$1
build=$2
simulator=$3
shift 3

work=$(mktemp -d "${TMPDIR:-/tmp}/readme-commands.XXXXXX")
server_group=
cleanup() {
  [ -n "$server_group" ] && kill -TERM -- "-$server_group" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/bin"
for program in "$@"; do ln -s "$program" "$work/bin/$(basename "$program")"; done
export PATH="$work/bin:$PATH"
export TARNSCSI_SIMULATOR=$simulator
export TARNSCSI_SIM=time-scale=0
unset TARNSCSI_TRACE LD_LIBRARY_PATH

failures=0
skipped=0
blocks=0
fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}

# A command line with time-scale=0 after each TARNSCSI_SIM it sets.
instant() {
  sed -E -e 's/TARNSCSI_SIM="([^"]*)"/TARNSCSI_SIM="\1,time-scale=0"/g' \
    -e "s/TARNSCSI_SIM='([^']*)'/TARNSCSI_SIM='\\1,time-scale=0'/g" \
    -e 's/TARNSCSI_SIM=([^"'"'"' ][^ ]*)/TARNSCSI_SIM=\1,time-scale=0/g' <<<"$1"
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# run_command DIR WANT LINE
run_command() {
  local dir=$1 want=$2 line output rc
  line=$(instant "$3")
  output=$(cd "$dir" && timeout 120 bash -c "$line" 2>&1 </dev/null)
  rc=$?
  if [ "$rc" -ne "$want" ]; then
    fail "line $start: '$3' exits $rc (want $want):"
    echo "$output" | tail -n 20 >&2
  fi
}

# run_block START OPTIONS COMMAND...
run_block() {
  local start=$1 options=$2 want=0 port= word dir
  shift 2
  for word in $options; do
    case "$word" in
      exit=*) want=${word#exit=} ;;
      server=*) port=${word#server=} ;;
      *) fail "line $start: unknown word '$word' after 'sh runnable'"; return ;;
    esac
  done
  blocks=$((blocks + 1))
  dir="$work/block$start"
  mkdir -p "$dir/build" "$dir/state" "$dir/frames"
  ln -s "$build" "$dir/build/linux"
  export TARNSCSI_SIM_STATE="$dir/state"

  if [ -n "$port" ]; then
    if port_answers "$port"; then
      echo "SKIP line $start: port $port is in use by another program" >&2
      skipped=$((skipped + 1))
      return
    fi
    local server
    server=$(instant "$1")
    shift
    (cd "$dir" && exec setsid bash -c "exec $server" >"$dir/server.log" 2>&1 </dev/null) &
    server_group=$!
    local tries=0
    until port_answers "$port"; do
      tries=$((tries + 1))
      if [ "$tries" -gt 200 ] || ! kill -0 "$server_group" 2>/dev/null; then
        fail "line $start: '$server' does not answer on port $port:"
        cat "$dir/server.log" >&2
        kill -TERM -- "-$server_group" 2>/dev/null
        server_group=
        return
      fi
      sleep 0.1
    done
  fi
  local line
  for line in "$@"; do run_command "$dir" "$want" "$line"; done
  if [ -n "$port" ]; then
    kill -TERM -- "-$server_group" 2>/dev/null
    local waited=0
    while kill -0 "$server_group" 2>/dev/null && [ "$waited" -lt 100 ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    if kill -0 "$server_group" 2>/dev/null; then
      fail "line $start: the server did not stop within 10 s of SIGTERM"
      kill -KILL -- "-$server_group" 2>/dev/null
    fi
    server_group=
  fi
}

# Read the blocks: commands are the lines that are not comments, with
# backslash continuations joined.
in_block=0
commands=()
pending=
number=0
while IFS= read -r text || [ -n "$text" ]; do
  number=$((number + 1))
  if [ "$in_block" -eq 0 ]; then
    if [[ "$text" =~ ^\`\`\`sh\ runnable(.*)$ ]]; then
      in_block=1
      start=$number
      options=${BASH_REMATCH[1]}
      commands=()
      pending=
    fi
    continue
  fi
  if [[ "$text" =~ ^\`\`\` ]]; then
    in_block=0
    run_block "$start" "$options" "${commands[@]}"
    continue
  fi
  [[ "$text" =~ ^[[:space:]]*(#|$) ]] && continue
  if [[ "$text" =~ \\$ ]]; then
    pending+="${text%\\} "
    continue
  fi
  commands+=("$pending$text")
  pending=
done <"$readme"

if [ "$blocks" -eq 0 ]; then
  fail "no runnable blocks in $readme"
fi
if [ "$failures" -ne 0 ]; then
  echo "$failures of the README's commands failed" >&2
  exit 1
fi
echo "the README's runnable commands work ($blocks blocks, $skipped skipped)"
[ "$skipped" -eq 0 ] || exit 77
