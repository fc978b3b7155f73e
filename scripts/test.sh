#!/usr/bin/env bash
# Builds and runs the whole test suite twice: the normal build and the build
# with AddressSanitizer and UndefinedBehaviorSanitizer. The database tests
# start their own PostgreSQL server on 127.0.0.1 and stop it again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

for preset in default sanitize; do
    echo "== ${preset} build =="
    cmake --preset "${preset}" >/dev/null
    cmake --build --preset "${preset}" -j2
    ctest --preset "${preset}" -j2
done
