# What the tests share: a simulated camera of each test's own that takes no
# time, a scratch folder, bounded waits and a free TCP port on loopback.
set -eu
export TARNSCSI_SIM="time-scale=0" TARNSCSI_SIM_STATE=private
work=${AUTOPKGTEST_TMP:-$(mktemp -d)}
cd "$work"

fail() { echo "FAIL: $*"; exit 1; }

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.5
  done
}

# free_port FIRST: the first port from FIRST on that nothing listens on.
free_port() {
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}

# Processes the test started, ended when it ends.
started=()
stop_started() { [ ${#started[@]} -eq 0 ] || kill "${started[@]}" 2>/dev/null || true; }
trap stop_started EXIT
