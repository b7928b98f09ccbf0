#!/usr/bin/env bash
# Runs the test suites that touch time (the pseudo-terminal, the ticks, the
# device sessions, the windows driven through them, the company register with
# its server cut and restarted mid-sync) many times in a row in the
# sanitizer build while every core is kept busy, and reports each failure. A
# suite that depends on the machine's speed fails here; a sound one never does.
# Not part of every CI run: it takes a while.
#
#   scripts/stress-tests.sh [-n RUNS] [--no-load] [REGEX]
#
# RUNS defaults to 20; REGEX (a ctest -R pattern) replaces the list of suites.
# The load is stress-ng with one CPU worker per core (installed when missing);
# --no-load runs without it. The logs of failed runs stay in
# build-asan/stress/. Exits 1 when any run failed.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

runs=20
load=1
suites='^(test_company_register|test_pty_device_server|test_pty_faults|test_pty_end_to_end|test_cli_device|test_programming_end_to_end|test_posix_serial_port|test_link_timing|test_device_link|test_cli_commands|test_main_window)$'
while [ $# -gt 0 ]; do
    case "$1" in
    -n) runs="${2:?-n needs a number}"; shift 2 ;;
    --no-load) load=0; shift ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "stress-tests.sh: unknown option $1" >&2; exit 2 ;;
    *) suites="$1"; shift ;;
    esac
done
case "$runs" in '' | *[!0-9]* | 0) echo "stress-tests.sh: RUNS must be a whole number from 1" >&2; exit 2 ;; esac

dir="$TOP/build-asan"
BUILD_TYPE=Debug build_into "$dir" -DTRELLIKON_SANITIZE=ON
logs="$dir/stress"
rm -rf "$logs"
mkdir -p "$logs"

load_pid=
stop_load() {
    if [ -n "$load_pid" ]; then
        kill "$load_pid" 2>/dev/null || true
        wait "$load_pid" 2>/dev/null || true
        load_pid=
    fi
}
trap stop_load EXIT
if [ "$load" -eq 1 ]; then
    install_missing stress-ng
    # One worker per core, each busy all the time: the tests get what the
    # scheduler leaves them, as on a CI machine that builds beside them.
    stress-ng --cpu 0 --cpu-load 100 --quiet &
    load_pid=$!
    sleep 2
fi

echo "stress: $runs runs of $suites$([ "$load" -eq 1 ] && echo " with every core busy")" >&2
declare -A failed_by_test=()
failed_runs=0
for i in $(seq 1 "$runs"); do
    log="$logs/run-$i.log"
    started=$SECONDS
    if QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -R "$suites" --output-on-failure \
        -j"${JOBS:-1}" >"$log" 2>&1; then
        echo "run $i/$runs: passed ($((SECONDS - started)) s)" >&2
        rm -f "$log"
        continue
    fi
    failed_runs=$((failed_runs + 1))
    names=$(sed -n '/The following tests FAILED/,$p' "$log" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\).*/\1/p')
    [ -n "$names" ] || names="(ctest itself; see the log)"
    for t in $names; do
        failed_by_test[$t]=$((${failed_by_test[$t]:-0} + 1))
    done
    echo "run $i/$runs: FAILED: $(echo $names) ($((SECONDS - started)) s; $log)" >&2
done
stop_load

echo "stress: $failed_runs failures out of $runs runs"
for t in "${!failed_by_test[@]}"; do
    echo "    $t failed in ${failed_by_test[$t]} runs"
done
[ "$failed_runs" -eq 0 ]
