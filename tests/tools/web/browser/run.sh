#!/bin/sh
# Browser tests of the web interface: installs playwright-core (the version pinned in
# tools/web/package.json) into NODE_DIR when missing, then drives Debian's chromium through
# browser_test.mjs. Screenshots land in OUTDIR/screenshots. NODE_DIR is $PONMC_PLAYWRIGHT_DIR,
# else OUTDIR/node; --install only installs (from the registry: run it where the machine's
# network is, before tests that run in a network namespace of their own).
#   run.sh WEB_STAGE_BINARY OUTDIR          (a stage of our own, see web-stage)
#   PONMC_WEB_URL=http://127.0.0.1:8080/ PONMC_ROOT=<sandbox root> run.sh - OUTDIR   (the sandbox)
#   run.sh --install NODE_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
web=$(cd "$here/../../../../tools/web" && pwd)
command -v node >/dev/null || { echo "browser tests: node missing" >&2; exit 1; }
install_playwright() {  # NODE_DIR
  mkdir -p "$1"
  want=$(node -p "require('$web/package.json').devDependencies['playwright-core']")
  have=$(node -p "try{require('$1/node_modules/playwright-core/package.json').version}catch(e){''}")
  if [ "$want" != "$have" ]; then
    cp "$web/package.json" "$web/package-lock.json" "$1/"
    (cd "$1" && npm ci --no-audit --no-fund --ignore-scripts >/dev/null)
  fi
}
if [ "$1" = "--install" ]; then
  install_playwright "$2"
  exit 0
fi
stage=$1
out=$2
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || { echo "browser tests: $chromium missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
mkdir -p "$out/screenshots"
out=$(cd "$out" && pwd)
stage=$(case "$stage" in -|/*) echo "$stage";; *) echo "$PWD/$stage";; esac)
node_dir=${PONMC_PLAYWRIGHT_DIR:-$out/node}
install_playwright "$node_dir"
export PLAYWRIGHT_CORE="$node_dir/node_modules/playwright-core"
export CHROMIUM="$chromium"
export SCREENSHOTS="$out/screenshots"
export WEB_STAGE="$stage"
exec node "$here/browser_test.mjs"
