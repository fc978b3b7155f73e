#!/usr/bin/env bash
# Checks formatting (clang-format) and runs cppcheck over the code and tests.
set -euo pipefail
cd "$(dirname "$0")/.."
clang-format --dry-run -Werror $(git ls-files '*.cpp' '*.h')
cppcheck --enable=warning,style,performance --std=c++17 --library=googletest --inline-suppr \
    --suppress=useStlAlgorithm --error-exitcode=1 --quiet -I src -I tests/support src tests
