# Shared by the sandbox tests: starts scripts/sandbox.sh as `make run` does (without a
# terminal) in a root of its own, waits until the chassis is up, stops it at the end.
# Sourced by a bash script that has set BUILD (the build folder) and HERE (the checkout).

ROOT=$(mktemp -d /tmp/ponmc-sandbox-test-XXXXXX)
OUT=$ROOT.out
SB_PID=""
CLI="$BUILD/tools/ponmc-cli/ponmc-cli"
SIM="$BUILD/tools/olt-sim/olt-sim"
export PONMC_ROOT=$ROOT
# Ports of their own, so a developer's `make run` on 8080/1161 is left alone.
export SANDBOX_ROOT=$ROOT SANDBOX_WEB_PORT=18080 SANDBOX_SNMP_PORT=11161 SANDBOX_SEED=11
export SANDBOX_SECONDS=3600
# A short SNMP cache, so a change shows through the agent within seconds.
export WENDIX_CACHE_TIMEOUT=${WENDIX_CACHE_TIMEOUT:-3}

fail() {
  echo "FAILED: $*" >&2
  echo "--- sandbox output" >&2
  cat "$OUT" >&2 || true
  for f in "$ROOT"/log/*.log; do
    echo "--- $f (last lines)" >&2
    tail -n 30 "$f" >&2 || true
  done
  exit 1
}

# Any command that fails unexpectedly ends the test with its line, not silently.
set -E
trap 'fail "line $LINENO: $BASH_COMMAND"' ERR

step() { printf '%s [%5ss] %s\n' "--" "$SECONDS" "$*"; }

# until_true SECONDS WHAT COMMAND...: polls COMMAND every half second until it succeeds.
until_true() {
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@" > /dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || fail "$what (not within $limit s)"
    sleep 0.5
  done
}

stop_sandbox() {
  if [ -n "$SB_PID" ] && kill -0 "$SB_PID" 2>/dev/null; then
    kill -TERM "$SB_PID"
    local end=$((SECONDS + 30))
    while kill -0 "$SB_PID" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do sleep 0.2; done
  fi
  SB_PID=""
}

cleanup_sandbox() {
  stop_sandbox
  # Anything of this root still running is a leak of the sandbox's own stop.
  pkill -KILL -f "$ROOT" 2>/dev/null || true
  [ -n "${KEEP_SANDBOX:-}" ] || rm -rf "$ROOT" "$OUT"
}
trap cleanup_sandbox EXIT

start_sandbox() {
  # setsid: the sandbox and its daemons in a session of their own, like a terminal's job.
  setsid "$HERE/scripts/sandbox.sh" "$BUILD" > "$OUT" 2>&1 &
  SB_PID=$!
  local end=$((SECONDS + 240))
  until grep -q 'ONUs online, .* s after the start' "$OUT"; do
    kill -0 "$SB_PID" 2>/dev/null || fail "the sandbox ended during its start"
    grep -q 'not every ONU came online' "$OUT" && fail "the sandbox did not bring every ONU online"
    [ "$SECONDS" -lt "$end" ] || fail "the sandbox did not come up within 240 s"
    sleep 0.5
  done
  step "$(grep 'ONUs online' "$OUT" | tail -n 1)"
}

cli() { "$CLI" --timeout 20 "$@"; }
sim() { "$SIM" --ctl "$ROOT/olt-sim.ctl" "$@"; }

# The value of KEY in a one-row JSON text read from standard input.
json_value() { sed -n "s/.*\"$1\":\"\\([^\"]*\\)\".*/\\1/p"; }
