#!/bin/bash
# The web interface's browser tests (tests/tools/web/browser) against the whole chassis as
# `make run` starts it: headless Chromium logs in, sees the eight slots online, renames an
# ONU (and reads the name back through SNMP), disables one (the simulated card shows it),
# shifts the time zone, downloads a backup, is refused a cross-site POST. Screenshots land in
# OUTDIR/screenshots.
#   browser_test.sh BUILD_DIR OUTDIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$2"
OUTDIR=$(cd "$2" && pwd)
. "$HERE/tests/sandbox/lib.sh"

step "start the sandbox"
start_sandbox
step "browser tests"
PONMC_WEB_URL="http://127.0.0.1:$SANDBOX_WEB_PORT/" \
PONMC_SNMP_ONU_NAME="snmpget -v2c -c public -t 2 -r 1 -Oqv 127.0.0.1:$SANDBOX_SNMP_PORT 1.3.6.1.4.1.32473.3.2.6.3.2.1.37.{slot}.{pon}.{index}" \
  "$HERE/tests/tools/web/browser/run.sh" - "$OUTDIR" || fail "browser tests"
step "done; screenshots in $OUTDIR/screenshots"
