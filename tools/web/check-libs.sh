#!/bin/sh
# CI check: the committed copies in www/lib are exactly what copy-libs.sh makes from the
# versions pinned in package.json and package-lock.json. Installs them into a scratch folder
# with npm ci (the npm registry only), copies, and compares. Exit 1 on any difference.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$here/package.json" "$here/package-lock.json" "$scratch/"
# The pinned versions must be exact: no ranges.
if grep -E '"(preact|htm|uplot|playwright-core)": *"[~^><=*]' "$here/package.json"; then
  echo "check-libs: package.json pins must be exact versions" >&2; exit 1
fi
(cd "$scratch" && npm ci --no-audit --no-fund --ignore-scripts --omit=dev >/dev/null)
"$here/copy-libs.sh" "$scratch/node_modules" "$scratch/lib"
if diff -r "$scratch/lib" "$here/www/lib"; then
  echo "check-libs: www/lib matches the pinned versions"
else
  echo "check-libs: www/lib differs from the pinned versions; run npm ci && ./copy-libs.sh in tools/web" >&2
  exit 1
fi
