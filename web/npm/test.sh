#!/usr/bin/env bash
# Builds the native rdsgen and the npm package, then installs the package
# offline into an empty folder and checks it against the native rdsgen, in
# Node and as a browser bundle made by esbuild in headless Chromium
# (web/npm/test.mjs).
set -euo pipefail
cd "$(dirname "$0")/../.."
make build JOBS="${JOBS:-2}" >/dev/null
bash web/npm/build.sh
# puppeteer-core (for the browser-bundle test) as the page's tests install it.
if [ -x "${CHROMIUM:-/usr/bin/chromium}" ] && { [ ! -d web/node_modules/puppeteer-core ] ||
    [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; }; then
    (cd web && npm ci --no-audit --no-fund)
fi
node web/npm/test.mjs --tarball build-npm/rdsgen-*.tgz --rdsgen build/rdsgen --chromium "${CHROMIUM:-/usr/bin/chromium}"
