#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang + libFuzzer, in build-fuzz/) and runs
# each of them for a given time, then prints per target the executions, the
# executions a second, the coverage reached and the findings.
#
#   scripts/fuzz.sh [-j JOBS] [SECONDS] [TARGET...]
#
# SECONDS per target (default 60); TARGET names one target to run, such as
# fuzz_receive_step, or several (default: all). -j runs that many targets at
# once (default 1). What a run finds is kept in build-fuzz/findings/TARGET/ (crash-*, leak-*, timeout-*,
# oom-*); replay one with build-fuzz/TARGET FILE. New inputs that reach new
# code go to build-fuzz/corpus/TARGET/, so a later run starts from there; the
# committed seeds in fuzz/corpus/ are read, never written. Exits 1 when any
# target found something.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# The fuzz build's own packages, apart from the program's.
install_missing clang libclang-rt-14-dev

jobs=1
if [ "${1:-}" = "-j" ]; then
    jobs="${2:?-j needs a number}"
    shift 2
fi
seconds="${1:-60}"
[ $# -gt 0 ] && shift
case "$seconds" in '' | *[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2 ;; esac

dir="$TOP/build-fuzz"
CC=clang CXX=clang++ cmake -S "$TOP/fuzz" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"${JOBS:-$(nproc)}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in "$TOP"/fuzz/corpus/*/; do
        targets+=("$(basename "$seeds")")
    done
fi

run_one() {
    local t="$1"
    mkdir -p "$dir/corpus/$t" "$dir/findings/$t" "$dir/logs"
    rm -f "$dir/findings/$t"/*
    # Exit status ignored: a finding shows up as a file in findings/.
    nice -n 15 "$dir/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/findings/$t/" \
        "$dir/corpus/$t" "$TOP/fuzz/corpus/$t" >"$dir/logs/$t.log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
    [ -x "$dir/$t" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
    echo "fuzzing $t for ${seconds} s" >&2
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

# A target that failed at its first input printed no statistics; a missing
# number must not end the report.
set +o pipefail
status=0
printf '%-20s %12s %8s %8s %8s %9s\n' target executions exec/s cov ft findings
for t in "${targets[@]}"; do
    log="$dir/logs/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    [ -n "$rate" ] || rate=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    found=$(find "$dir/findings/$t" -type f | wc -l)
    printf '%-20s %12s %8s %8s %8s %9s\n' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$found"
    if [ "$found" -gt 0 ]; then
        status=1
        find "$dir/findings/$t" -type f | sed 's/^/    /'
        grep -m1 -E 'ERROR|^[a-z0-9 -]+: ' "$log" | sed 's/^/    /' || true
    fi
done
exit "$status"
