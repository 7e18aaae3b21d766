#!/usr/bin/env bash
# Builds the native rdsgen and the npm package, then installs the package
# offline into an empty folder and checks it against the native rdsgen
# (web/npm/test.mjs).
set -euo pipefail
cd "$(dirname "$0")/../.."
make build JOBS="${JOBS:-2}" >/dev/null
bash web/npm/build.sh
node web/npm/test.mjs --tarball build-npm/rdsgen-*.tgz --rdsgen build/rdsgen
