#!/usr/bin/env bash
# Builds the page into build-web/, a folder to copy to any static host: the
# engine as WebAssembly (Debian's emscripten, through emcmake in build-wasm/),
# the page's files, the JPEG decoder (npm), the demo case and the example
# height images; and build-web/rdsgen.html, the whole page in one file.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${OUT:-build-web}
WASM_BUILD=${WASM_BUILD:-build-wasm}
JOBS=${JOBS:-2}
# Debian's emcc runs its own JavaScript tools with the system's Node; they
# find their modules through NODE_PATH.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

if ! command -v emcmake >/dev/null; then
    echo "emcmake not found: apt-get install emscripten" >&2
    exit 1
fi
mkdir -p "$WASM_BUILD" "$OUT"
emcmake cmake -S web -B "$WASM_BUILD" -DCMAKE_BUILD_TYPE=Release -DRDSGEN_WEB_OUT="$PWD/$OUT" \
    >"$WASM_BUILD/configure.log" 2>&1 || { cat "$WASM_BUILD/configure.log"; exit 1; }
cmake --build "$WASM_BUILD" -j "$JOBS"

cp web/index.html web/style.css web/main.js web/options.js web/heights.js web/view.js web/png_data.js web/worker.js "$OUT/"

# The JPEG decoder: libjpeg-turbo's decoder built for WebAssembly, from npm
# (web/package.json), copied beside the worker.
JPEG_PACKAGE=web/node_modules/@jsquash/jpeg
if [ ! -f "$JPEG_PACKAGE/decode.js" ] || [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
    (cd web && npm ci --no-audit --no-fund)
fi
mkdir -p "$OUT/jpeg/codec/dec"
cp "$JPEG_PACKAGE"/decode.js "$JPEG_PACKAGE"/utils.js "$JPEG_PACKAGE"/meta.js "$JPEG_PACKAGE"/LICENSE "$OUT/jpeg/"
cp "$JPEG_PACKAGE"/codec/dec/mozjpeg_dec.js "$JPEG_PACKAGE"/codec/dec/mozjpeg_dec.wasm "$OUT/jpeg/codec/dec/"
mkdir -p "$OUT/demo" "$OUT/examples"
cp web/demo/* "$OUT/demo/"

# The example height images, made by the project's generator (built here
# with the host's compiler).
if [ ! -x "$WASM_BUILD/make-heightmaps" ] || [ tools/make-heightmaps.cpp -nt "$WASM_BUILD/make-heightmaps" ]; then
    c++ -std=c++20 -O2 tools/make-heightmaps.cpp $(pkg-config --cflags --libs spng) -o "$WASM_BUILD/make-heightmaps"
fi
"$WASM_BUILD/make-heightmaps" "$OUT/examples" >/dev/null

# The same page as one file that works opened from disk (rdsgen.html).
node web/single-file.mjs "$OUT" >/dev/null
echo "Page built in $OUT/"
