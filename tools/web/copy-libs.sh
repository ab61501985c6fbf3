#!/bin/sh
# Copies the browser libraries pinned in package.json (exact versions, package-lock.json)
# from node_modules into www/lib, the only place the pages load them from: the card has no
# internet and there is no build step. The copies are committed; check-libs.sh repeats this
# into a scratch folder and compares.
#   copy-libs.sh [NODE_MODULES [DEST]]   defaults: ./node_modules and ./www/lib
# The hooks module imports the bare name "preact"; pages have no import map (an inline
# script would need a looser content security policy), so the copy imports the file itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
nm=${1:-$here/node_modules}
dest=${2:-$here/www/lib}
for f in preact/dist/preact.module.js preact/hooks/dist/hooks.module.js htm/dist/htm.module.js \
         uplot/dist/uPlot.iife.min.js uplot/dist/uPlot.min.css; do
  [ -f "$nm/$f" ] || { echo "copy-libs: $nm/$f missing (run npm ci in $here)" >&2; exit 1; }
done
mkdir -p "$dest"
cp "$nm/preact/dist/preact.module.js" "$dest/preact.module.js"
sed 's|from"preact"|from"./preact.module.js"|g' "$nm/preact/hooks/dist/hooks.module.js" > "$dest/hooks.module.js"
cp "$nm/htm/dist/htm.module.js" "$dest/htm.module.js"
cp "$nm/uplot/dist/uPlot.iife.min.js" "$dest/uPlot.iife.min.js"
cp "$nm/uplot/dist/uPlot.min.css" "$dest/uPlot.min.css"
for p in preact htm uplot; do
  v=$(node -p "require('$nm/$p/package.json').version")
  { echo "$p $v"; echo; cat "$nm/$p/LICENSE"; } > "$dest/LICENSE.$p"
done
