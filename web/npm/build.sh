#!/usr/bin/env bash
# Builds the npm package rdsgen: the engine as one ES module with its
# WebAssembly inline (through emcmake in build-wasm/, target rdsgen-npm),
# the JavaScript interface, its types and README, packed into
# build-npm/rdsgen-VERSION.tgz.
set -euo pipefail
cd "$(dirname "$0")/../.."
WASM_BUILD=${WASM_BUILD:-build-wasm}
OUT=build-npm
JOBS=${JOBS:-2}
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
for tool in emcmake npm; do
    command -v "$tool" >/dev/null || { echo "$tool not found: apt-get install emscripten npm" >&2; exit 1; }
done
VERSION=$(sed -n 's/^project(rdsgen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$VERSION" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }

mkdir -p "$WASM_BUILD" "$OUT/package"
emcmake cmake -S web -B "$WASM_BUILD" -DCMAKE_BUILD_TYPE=Release -DRDSGEN_NPM_OUT="$PWD/$OUT/package" \
    >"$WASM_BUILD/configure-npm.log" 2>&1 || { cat "$WASM_BUILD/configure-npm.log"; exit 1; }
cmake --build "$WASM_BUILD" -j "$JOBS" --target rdsgen-npm

cp web/npm/index.d.ts web/npm/README.md web/options.js web/png_data.js LICENSE "$OUT/package/"
sed "s/@VERSION@/$VERSION/" web/npm/index.js >"$OUT/package/index.js"
sed "s/@VERSION@/$VERSION/" web/npm/package.json.in >"$OUT/package/package.json"
rm -f "$OUT"/rdsgen-*.tgz
(cd "$OUT" && npm pack ./package --silent >/dev/null)
echo "npm package written: $OUT/rdsgen-$VERSION.tgz"
