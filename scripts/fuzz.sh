#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan: the "fuzz" preset in
# build-fuzz) and runs each for SECONDS (default 20) on a scratch copy of its
# seed corpus under tests/fuzz/corpus, so that no input found is written into
# the repository. Fails on any crash, sanitizer report, leak, time-out or
# violated invariant; the input that caused it is kept under
# build-fuzz/findings/<target>/. Prints the executions of each target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
if ! [[ "${seconds}" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2
    exit 2
fi
scripts/install-deps.sh

targets=(settings cipher statement)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]/#/vendrak_fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "${scratch}"' EXIT
failed=()
for target in "${targets[@]}"; do
    corpus="${scratch}/corpus-${target}"
    findings="build-fuzz/findings/${target}"
    log="${scratch}/${target}.log"
    rm -rf "${findings}"
    mkdir -p "${corpus}" "${findings}"
    cp tests/fuzz/corpus/"${target}"/* "${corpus}/"
    # The settings target writes its scratch file under TMPDIR.
    if TMPDIR="${scratch}" "build-fuzz/tests/fuzz/vendrak_fuzz_${target}" \
        -max_total_time="${seconds}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="${findings}/" "${corpus}" >"${log}" 2>&1; then
        result=passed
    else
        result=FAILED
        failed+=("${target}")
        grep -v '^#[0-9]' "${log}" >&2 || true
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}")
    echo "fuzz ${target}: ${executions:-unknown} executions in ${seconds} s, ${result}"
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing failed: ${failed[*]} (inputs under build-fuzz/findings/)" >&2
    exit 1
fi
