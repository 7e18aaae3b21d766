#!/usr/bin/env bash
# Builds the native rdsgen and the page, serves the page on 127.0.0.1 and
# runs its tests in headless Chromium (web/tests/run.mjs), comparing the
# page's stereograms with the native rdsgen's. Prints "N passed, N failed"
# and the benchmark; exits non-zero on failure. Takes the
# screenshots docs/web.png and docs/web-phone.png.
set -euo pipefail
cd "$(dirname "$0")/.."
CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
for tool in node npm python3 "$CHROMIUM"; do
    command -v "$tool" >/dev/null || { echo "$tool not found (apt-get install chromium nodejs npm)" >&2; exit 1; }
done

make build JOBS="${JOBS:-2}"
bash web/build.sh

# puppeteer-core drives the system's Chromium; it downloads no browser.
if [ ! -d web/node_modules/puppeteer-core ] || [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
    (cd web && npm ci --no-audit --no-fund)
fi

# Serve build-web/ on a free port of 127.0.0.1 (the .wasm cannot be loaded
# from file:// addresses).
LOG=$(mktemp)
python3 -u -m http.server 0 --bind 127.0.0.1 --directory build-web >"$LOG" 2>&1 &
SERVER=$!
trap 'kill $SERVER 2>/dev/null; rm -f "$LOG"' EXIT
PORT=
for _ in $(seq 100); do
    PORT=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$LOG" | head -1)
    [ -n "$PORT" ] && break
    sleep 0.1
done
[ -n "$PORT" ] || { echo "the HTTP server did not start:" >&2; cat "$LOG" >&2; exit 1; }

node web/tests/run.mjs --base "http://127.0.0.1:$PORT/" --rdsgen build/rdsgen \
    --heightmaps build/make-heightmaps --chromium "$CHROMIUM" \
    --screenshot docs/web.png --phone-screenshot docs/web-phone.png "$@"
