#!/bin/sh
# Browser tests of the web interface: installs playwright-core (the version pinned in
# tools/web/package.json) into OUTDIR/node when missing, then drives Debian's chromium
# through browser_test.mjs. Screenshots land in OUTDIR/screenshots.
#   run.sh WEB_STAGE_BINARY OUTDIR          (a stage of our own, see web-stage)
#   PONMC_WEB_URL=http://127.0.0.1:8080/ PONMC_ROOT=<sandbox root> run.sh - OUTDIR   (the sandbox)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
web=$(cd "$here/../../../../tools/web" && pwd)
stage=$1
out=$2
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || { echo "browser tests: $chromium missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
command -v node >/dev/null || { echo "browser tests: node missing" >&2; exit 1; }
mkdir -p "$out/node" "$out/screenshots"
out=$(cd "$out" && pwd)
stage=$(case "$stage" in -|/*) echo "$stage";; *) echo "$PWD/$stage";; esac)
want=$(node -p "require('$web/package.json').devDependencies['playwright-core']")
have=$(node -p "try{require('$out/node/node_modules/playwright-core/package.json').version}catch(e){''}")
if [ "$want" != "$have" ]; then
  cp "$web/package.json" "$web/package-lock.json" "$out/node/"
  (cd "$out/node" && npm ci --no-audit --no-fund --ignore-scripts >/dev/null)
fi
export PLAYWRIGHT_CORE="$out/node/node_modules/playwright-core"
export CHROMIUM="$chromium"
export SCREENSHOTS="$out/screenshots"
export WEB_STAGE="$stage"
exec node "$here/browser_test.mjs"
