#!/usr/bin/env bash
# The program's figures in one table, every one measured in this run beside
# its yardstick: start-up and memory against a bare Qt window, the command-line
# transfers against the wire's limit, the link's ticks in virtual time, the
# installations register against its targets, idle CPU, and the test suite's
# time. Takes about five minutes plus the suite (and a few minutes more the
# first time, to fill the register's benchmark file).
# Usage: scripts/bench.sh   (JOBS=N caps the build's and the suite's jobs)
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing xvfb xauth
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s '-screen 0 1400x1000x24' "$0" "$@"; fi
build_into "$TOP/build" >&2
B="$TOP/build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The transfers below record in a register of their own, not the user's.
export TRELLIKON_REGISTER="$work/rejestr.sqlite"
rows=()
row() { rows+=("$(printf '%-46s %-38s %s' "$1" "$2" "$3")"); }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
say() { echo "bench: $*" >&2; }

# 1. Start-up to the main window shown, and resident memory then.
say "start-up, 30 alternating runs each"
startup=$(BUILD_DIR="$B" "$TOP/scripts/measure-startup.sh" 30)
field() { awk -v w="$1" -v f="$2" '$1 == w {print $f}' <<<"$startup"; }
row "start-up to main window shown (median of 30)" "$(field app 7) ms" "bare Qt window $(field bare 7) ms"
row "resident memory then (median of 30)" "$(field app 12) MiB" "bare Qt window $(field bare 12) MiB"

# 2. trellikon-cli against the simulator at 19200 baud, at the tick's pace and
# with --fast, alternately; each time from the command's start of the transfer
# to its last answer, as the progress lines on stderr say.
say "trellikon-cli read and write, 3 of each at each pace"
"$B/tools/trellikon-cli" demo "$work/template.sbn" >/dev/null
cp "$work/template.sbn" "$work/device.sbn"
coproc SIM { exec "$B/tools/trellikon-sim" --baud 19200 --memory "$work/device.sbn" </dev/null; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
read -r pty <&"${SIM[0]}"

stamp() { while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done; }
transfer() { # kind (read|write) pace (tick|fast): prints seconds
    local kind=$1 fast=() from to
    [ "$2" = fast ] && fast=(--fast)
    if [ "$kind" = read ]; then
        "$B/tools/trellikon-cli" read "${fast[@]}" "$pty" "$work/out.sbn" 2>&1 | stamp >"$work/log"
        cmp -s "$work/out.sbn" "$work/device.sbn" || { say "read returned other bytes"; exit 1; }
        from="Trwa odczyt ustawień"; to="Ustawienia zostały pobrane"
    else
        "$B/tools/trellikon-cli" write "${fast[@]}" "$pty" "$work/template.sbn" 2>&1 | stamp >"$work/log"
        cmp -s "$work/template.sbn" "$work/device.sbn" || { say "write left other bytes"; exit 1; }
        from="Trwa zapis ustawień"; to="Programowanie urządzenia zakończono"
    fi
    awk -v a="$from" -v b="$to" 'index($0, a) && !s {s = $1} index($0, b) {e = $1}
        END {if (s == "" || e == "") exit 1; printf "%.2f\n", e - s}' "$work/log"
}
for _ in 1 2 3; do
    for kind in read write; do
        for pace in tick fast; do transfer $kind $pace >>"$work/$kind-$pace"; done
    done
done
wire=$(awk 'BEGIN {printf "%.2f", 8 * (516 + 4) * 10 / 19200}')
for kind in read write; do
    row "trellikon-cli $kind, tick's pace (median of 3)" "$(median <"$work/$kind-tick") s" \
        "wire limit $wire s"
    row "trellikon-cli $kind --fast (median of 3)" "$(median <"$work/$kind-fast") s" \
        "wire limit $wire s"
done
# 2b. The whole write as the command line makes it: the backup read, the write
# and the read back that checks it (the default), from start to exit.
say "trellikon-cli write with its check, whole: 3 with --fast, 1 at the tick's pace"
whole() { # options...: prints seconds
    local from=$EPOCHREALTIME
    "$B/tools/trellikon-cli" write "$@" "$pty" "$work/template.sbn" 2>"$work/log" ||
        { say "the checked write failed"; cat "$work/log" >&2; exit 1; }
    grep -q "Weryfikacja zakończona" "$work/log" || [[ " $* " == *" --no-verify "* ]] ||
        { say "the write was not checked"; exit 1; }
    awk -v s="$from" -v e="$EPOCHREALTIME" 'BEGIN {printf "%.2f\n", e - s}'
}
for _ in 1 2 3; do
    whole --fast >>"$work/whole-fast"
    whole --fast --no-verify >>"$work/whole-fast-noverify"
done
whole >>"$work/whole-tick"
row "cli write --fast: backup+write+check (med. 3)" "$(median <"$work/whole-fast") s" \
    "3 x wire limit $(awk -v w="$wire" 'BEGIN {printf "%.2f", 3 * w}') s"
row "cli write --fast --no-verify: backup+write" "$(median <"$work/whole-fast-noverify") s" \
    "2 x wire limit $(awk -v w="$wire" 'BEGIN {printf "%.2f", 2 * w}') s"
row "cli write, tick's pace: backup+write+check" "$(cat "$work/whole-tick") s" \
    "27 ticks of 1000 ms, and the handshake"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
trap 'rm -rf "$work"' EXIT

# 3. Ticks of 1000 ms in virtual time, clean and with 10% of the device's
# frames flipped, dropped or split.
say "link ticks, 100 seeded runs"
ticks=$("$B/tools/trellikon-link-bench" --runs 100 || true)
clean() { sed -n "s/^clean line, $1: *\([0-9]*\) ticks.*/\1/p" <<<"$ticks"; }
damaged() {
    awk -v k="$1:" '/flipped, dropped or split \(/ {m = 1; next} /^$/ {m = 0}
        m && $1 == k {printf "median %s, worst %s (%s finished)", $11, $13, $2}' <<<"$ticks"
}
row "ticks for a read, clean line" "$(clean read)" "one per block, and one to begin"
row "ticks for a write, clean line" "$(clean write)" "one per block, and one to begin"
row "ticks for a read, 10 % frames damaged" "$(damaged read)" "100 seeded runs"
row "ticks for a write, 10 % frames damaged" "$(damaged write)" "100 seeded runs"

# 3a. The whole write from the window, started in the alarm texts editor: the
# parts offered, the backup read into a copy, the write, the read back and its
# verdict, the register recording; ticks, and seconds at 1000 ms a tick with
# the program's own work measured here added.
say "the whole write from the window"
windowwrite=$("$B/tests/trellikon-checked-write-bench" 2>/dev/null)
wfield() { sed -n "s/^$1: \(.*\)/\1/p" <<<"$windowwrite"; }
row "window write: backup read + write + check" "$(wfield 'whole write')" \
    "backup $(wfield 'backup read'), write $(wfield write), check $(wfield 'check read')"

# 3b. The installations register with 1,000 installations and 50,000 versions
# (made on the first run and kept in build/, as making them takes minutes):
# the register opened (and, apart, the day's first opening, whose check reads
# the whole file before the daily copy), its
# installations listed, a search by a caller's number, one version and one
# backup recorded; medians of 7.
say "register, 1,000 installations and 50,000 versions"
registerfigures=$("$B/tools/trellikon-register-bench" "$B/register-bench.sqlite")
regfield() { awk -v w="$1" 'index($0, w) == 1 {for (i = 1; i < NF; i++) if ($(i + 1) == "ms") print $i " ms"}' <<<"$registerfigures"; }
row "register: open" "$(regfield open)" "target < 300 ms with the list"
row "register: the day's first open" "$(regfield daily)" "whole file checked, once a day"
row "register: list installations" "$(regfield list)" "target < 300 ms with the open"
row "register: search by a caller's number" "$(regfield search)" "target < 50 ms"
row "register: record one version" "$(regfield 'record one')" "target < 20 ms"
row "register: record a backup (flushed)" "$(regfield 'record a')" "target < 20 ms"

# 3b. The company register on a PostgreSQL server of its own (as the tests
# start one): a laptop pushes the benchmark register's 50,000 versions, a
# second laptop joins and takes them in, a sync with nothing new, a recorded
# version on its way to the server, and the office's search by a number there.
say "company register: a laptop joins a company of 1,000 installations and 50,000 versions"
pgdir="$(mktemp -d)"
chmod 755 "$pgdir"
trap '"$TOP/tests/pg_test_server.sh" stop "$pgdir/pg"; rm -rf "$work" "$pgdir"' EXIT
pgport="$("$TOP/tests/pg_test_server.sh" start "$pgdir/pg" | sed -n 's/^PGTEST_PORT=//p')"
export PGPASSFILE="$pgdir/pg/pgpass"
pguri() { echo "postgresql://$1@localhost:$pgport/postgres?sslrootcert=$pgdir/pg/ca.crt"; }
XDG_CONFIG_HOME="$work/config" "$B/tools/trellikon-cli" server init "$(pguri postgres)" >/dev/null
for who in jan ewa; do
    TRELLIKON_NEW_PASSWORD="haslo-$who" "$B/tools/trellikon-cli" server add-user "$(pguri postgres)" "$who" technik >/dev/null
    echo "localhost:$pgport:*:$who:haslo-$who" >>"$PGPASSFILE"
done
cp "$B/register-bench.sqlite" "$work/laptop.sqlite"
companyfigures=$("$B/tools/trellikon-company-bench" "$work/laptop.sqlite" "$(pguri jan)" "$(pguri ewa)")
"$TOP/tests/pg_test_server.sh" stop "$pgdir/pg"
trap 'rm -rf "$work" "$pgdir"' EXIT
unset PGPASSFILE
cofield() { awk -v w="$1" 'index($0, w) == 1 {for (i = 1; i < NF; i++) if ($(i + 1) == "ms") print $i " ms"}' <<<"$companyfigures"; }
row "company: first push of 50,000 versions" "$(cofield 'first push')" "a laptop's whole register, once"
row "company: a joining laptop's first sync" "$(cofield 'joining')" "target < 60 s, 50,000 versions"
row "company: a sync with nothing new" "$(cofield 'sync with')" "target < 200 ms"
row "company: a write's version on the server" "$(cofield 'a version')" "target < 2 s after the write"
row "company: search by phone on the server" "$(cofield 'search by')" "target < 50 ms"

# 4. CPU time in 60 s of idle, the program and a bare window side by side.
say "60 s of idle"
"$B/app/trellikon" >/dev/null 2>&1 & app=$!
"$B/tools/trellikon-bare-window" >/dev/null 2>&1 & bare=$!
sleep 3
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
a0=$(cpu $app); b0=$(cpu $bare)
sleep 60
a1=$(cpu $app); b1=$(cpu $bare)
kill $app $bare; wait $app $bare 2>/dev/null || true
hz=$(getconf CLK_TCK)
secs() { awk -v t="$1" -v hz="$hz" 'BEGIN {printf "%.2f s (%.2f %%)", t / hz, 100 * t / hz / 60}'; }
row "CPU used in 60 s of idle" "$(secs $((a1 - a0)))" "bare Qt window $(secs $((b1 - b0)))"

# 5. The whole test suite.
say "test suite"
jobs=${JOBS:-$(nproc)}
start=$EPOCHREALTIME
QT_QPA_PLATFORM=offscreen ctest --test-dir "$B" -j"$jobs" >"$work/ctest" 2>&1 || true
took=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN {printf "%.0f", e - s}')
row "whole test suite (ctest -j$jobs)" "$took s" "$(grep -o '[0-9]*% tests passed.*' "$work/ctest")"

printf '%-46s %-38s %s\n' "figure" "measured" "beside it"
printf '%s\n' "${rows[@]}"
