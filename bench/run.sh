#!/usr/bin/env bash
# The benchmark (not a test; CI does not run it):
#
#   bench/run.sh [--sizes 10000,100000,300000] [--rounds 3,2,1]
#                [--program-only SIZES] [--resume]
#
# For sites of increasing size (TrmAswDnl rows of a full rebuild; default
# 10 000, 100 000 and 300 000) it generates the site with scripts/gen_site.py, runs a
# full rebuild and then a key run of 100 badges with the real vendrak
# (RelWithDebInfo, laid out as installed, through a data source that fetches
# 1000 rows at a time), and replays the very same driver calls with the
# minimal client bench/baseline.cpp, the limit for that statement sequence on
# this driver. Every run starts from the same table contents, and every
# replay must leave the tables exactly as the program left them. Each round
# (--rounds at each size, in the order of --sizes; the last count holds for
# further sizes) runs the program and the baseline right after each other,
# the program first in odd rounds and second in even ones, and gives two
# ratios: of their wall times, and of the CPU time each run costs on both
# ends (the client's user and system time and the server's, read from /proc
# for the server's processes), which shows where the time goes. The report
# takes the median of each kind and shows the spread: load that comes and
# goes on a shared machine lands on single rounds, which the median leaves
# out. (It moves CPU times too, through shared cores and caches.) A load
# that lasts through one side of a round still moves that round, so after
# the rounds as many interleaved pairs run: the program as deployed on the
# first server and the baseline's replay on a second server with the same
# site, at the same time in turns of half a second (bench/interleave.py),
# which every load longer than a few turns meets alike. Their ratio of
# active seconds is the one that holds on a busy machine. The load average
# before each run goes to work/load.txt.
# At the sizes of --program-only the baseline does not run (on a busy
# machine the largest site takes hours with it). --resume keeps the files
# of an earlier run that was stopped and goes on with the first size that
# it did not finish.
#
# The sites have the recommended indexes (scripts/gen_site.py --indexes all).
# After the measured key run the program runs the key once more without the
# index of TrmAswDnl by badge (--indexes source, the schema before it), so
# that the report can compare the key run's pace before and after.
#
# The program runs with the test interposer preloaded, which records an event
# log (statements, fetches, clock and CPU time at every statement: counts and
# per-phase figures, and the sequence the baseline replays). On the smallest
# site the program also runs without it (what the recording costs), through a
# data source without batched fetching (the results must not change), and
# under callgrind (how much of the work is the program's own code).
#
# bench/report.py then writes bench/RESULTS.md, the plot
# bench/time-vs-rows.png and the README's benchmark section. Working files go
# to bench/work/ (the servers' to work/db and work/db2, or as root to private
# folders under /var/tmp). A server that runs already is reused and left
# running.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bench="${top}/bench"
work="${bench}/work"
server="${top}/tests/support/pgserver.sh"
sizes=10000,100000,300000
rounds=3,2,1
program_only=""
resume=0
terminals=40
key=BENCH
key_badges=100
dsn=QVBENCH
dsn_unbatched=QVBENCH0
dsn_second=QVBENCH2
# The turn of each side of an interleaved pair, in seconds.
slice=0.5

usage() { sed -n '2,52p' "$0" | sed 's/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
    case "$1" in
    --sizes) sizes=${2:?--sizes needs a list}; shift 2 ;;
    --sizes=*) sizes=${1#--sizes=}; shift ;;
    --rounds) rounds=${2:?--rounds needs a list}; shift 2 ;;
    --rounds=*) rounds=${1#--rounds=}; shift ;;
    --program-only) program_only=${2:?--program-only needs a list}; shift 2 ;;
    --program-only=*) program_only=${1#--program-only=}; shift ;;
    --resume) resume=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "bench/run.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
done
IFS=, read -r -a size_list <<<"${sizes}"
for size in "${size_list[@]}"; do
    [[ "${size}" =~ ^[1-9][0-9]*$ ]] || { echo "bench/run.sh: bad size ${size}" >&2; exit 2; }
done
IFS=, read -r -a rounds_list <<<"${rounds}"
for count in "${rounds_list[@]}"; do
    [[ "${count}" =~ ^[1-9][0-9]*$ ]] || { echo "bench/run.sh: bad rounds ${count}" >&2; exit 2; }
done

step() { printf '\n== %s ==\n' "$*"; }
# psql on the first server, or with sql_port=PORT before a call on that one.
sql() { PGPORT=${sql_port:-${PGPORT}} psql -X -q -v ON_ERROR_STOP=1 "$@"; }

# The benchmark's own tools on top of what the build needs: gnuplot for the
# plot, valgrind for callgrind and GNU time (CI needs none of them).
"${top}/scripts/install-deps.sh" gnuplot-nox valgrind time

step "build"
cd "${top}"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vendrak vendrak-settings vendrak_odbc_interposer \
    vendrak_bench_baseline >/dev/null
vendrak="${top}/build/vendrak"
interposer="${top}/build/tests/libvendrak_odbc_interposer.so"
baseline="${top}/build/bench/vendrak_bench_baseline"
"${vendrak}" --version

step "database"
# The benchmark's servers keep their records in work/db and work/db2
# (pgserver.sh decides where their files live: as root in a private folder
# under /var/tmp that the postgres user can reach); the rest of work/ is
# cleared for this run. Both hold the same site: the second serves the
# baseline of the interleaved pairs while the program runs on the first.
db="${work}/db"
db2="${work}/db2"
started_servers=()
stop_started_servers() {
    local dir
    for dir in "${started_servers[@]}"; do
        "${server}" stop "${dir}" >/dev/null 2>&1 || true
    done
}
trap stop_started_servers EXIT
for dir in "${db}" "${db2}"; do
    if "${server}" status "${dir}"; then
        echo "reusing the benchmark server of ${dir}"
        "${server}" start "${dir}"
    else
        "${server}" start "${dir}"
        started_servers+=("${dir}")
        echo "started a PostgreSQL server for ${dir}; it is stopped again at the end"
    fi
done
port2=$(cat "${db2}/port")
# shellcheck source=/dev/null
source "${db}/env"
# The server's files are in DIR, or as root in the private folder it records.
server_home=$(cat "${db}/server-home" 2>/dev/null || echo "${db}")
postmaster=$(head -n 1 "${server_home}/data/postmaster.pid")
if [ "${resume}" = 0 ]; then
    find "${work}" -mindepth 1 -maxdepth 1 ! -name db ! -name db2 -exec rm -rf {} +
    date +%s >"${work}/started"
fi
# Three data sources: on the first server batched fetching (the benchmark's)
# and without it (the driver's default, only for the comparison of results);
# on the second batched fetching, for the interleaved pairs.
# The entry of data source NAME on the server at PORT, then its fetch settings.
data_source() {
    printf '[%s]\nDriver=PostgreSQL ANSI\nServername=127.0.0.1\nPort=%s\nDatabase=%s\n' \
        "$1" "$2" "${PGDATABASE}"
    shift 2
    printf '%s\n' "$@" ""
}
{
    data_source "${dsn}" "${PGPORT}" UseDeclareFetch=1 Fetch=1000
    data_source "${dsn_unbatched}" "${PGPORT}" UseDeclareFetch=0
    data_source "${dsn_second}" "${port2}" UseDeclareFetch=1 Fetch=1000
} >"${work}/odbc.ini"
export ODBCINI="${work}/odbc.ini"
export VENDRAK_BENCH_USER="${PGUSER}" VENDRAK_BENCH_PASSWORD="${PGPASSWORD}"

# An installation layout per data source, as the program is deployed.
for name in site:"${dsn}" site0:"${dsn_unbatched}" site2:"${dsn_second}"; do
    root="${work}/${name%%:*}"
    mkdir -p "${root}/files" "${root}/Quorvance_php/log" "${root}/app/bin"
    printf '%s\n' "${PGPASSWORD}" | "${top}/build/vendrak-settings" write \
        "${root}/files/quorvance.ini" --login "${PGUSER}" --password-stdin \
        --db-system ORACLE --database "${name#*:}" >/dev/null
done

# shellcheck source=bench/download_tables.sh
source "${bench}/download_tables.sh"

# Sets the download tables to their state before a run: empty (before a full
# rebuild) or as the last full rebuild left them (before a key run).
reset_tables() {
    local t commands=(-c "TRUNCATE ${table_list}")
    if [ "$1" = rebuilt ]; then
        for t in "${tables[@]}"; do
            commands+=(-c "INSERT INTO qvsystem.${t} SELECT * FROM bench.${t}")
        done
    fi
    sql "${commands[@]}" -c "VACUUM ANALYZE ${table_list}"
}

# CPU seconds the server has used so far: the postmaster's own, those of its
# live children and those of its children that ended (their time moves into
# the postmaster's cutime and cstime when it reaps them). The children are
# read on both sides of the postmaster, and again when one ended in between,
# so that no child is counted twice or not at all.
server_cpu() {
    python3 - "${postmaster}" <<'PY'
import os, sys

def stat(pid):
    # The fields after the command name: state, ppid, ... utime is the 12th.
    with open("/proc/%s/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()

def children(parent):
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            fields = stat(pid)
        except OSError:
            continue
        if fields[1] == parent:
            found[pid] = int(fields[11]) + int(fields[12])
    return found

parent = sys.argv[1]
while True:
    before = children(parent)
    own = sum(int(v) for v in stat(parent)[11:15])
    after = children(parent)
    if before.keys() == after.keys():
        break
print("%.2f" % ((own + sum(after.values())) / os.sysconf("SC_CLK_TCK")))
PY
}

# Runs COMMAND and writes the server's CPU seconds during it to work/NAME.server.
with_server_cpu() {
    local name=$1 start rc=0
    shift
    start=$(server_cpu)
    "$@" || rc=$?
    # The run's session ends with the run; give the server a moment to reap it.
    sleep 0.5
    awk -v end="$(server_cpu)" -v start="${start}" 'BEGIN { printf "%.2f\n", end - start }' \
        >"${work}/${name}.server"
    return "${rc}"
}

# Freezes and analyzes every table after the site's data changed. The first
# statement to read a freshly written row marks it as committed, work that
# would otherwise fall on the first measured run alone (always the program's:
# it runs first in the first round).
settle_database() {
    local owned
    owned=$(sql -At -c "SELECT string_agg(format('%I.%I', schemaname, tablename), ', ')
                        FROM pg_tables WHERE tableowner = current_user")
    sql -c "VACUUM (FREEZE, ANALYZE) ${owned}"
}

# Runs vendrak as deployed: work/NAME.time gets "wall user system maxrss",
# work/NAME.server the server's CPU seconds; with RECORD=1 the interposer
# writes work/NAME.events.
run_program() {
    local name=$1 root=$2 rc=0
    shift 2
    local preload=()
    if [ "${RECORD:-0}" = 1 ]; then
        preload=(LD_PRELOAD="${interposer}" VENDRAK_IP_EVENTS="${work}/${name}.events")
    fi
    (cd "${root}/app/bin" && with_server_cpu "${name}" /usr/bin/time -f "%e %U %S %M" \
        -o "${work}/${name}.time" env "${preload[@]}" ${VALGRIND:-} "${vendrak}" "$@") || rc=$?
    echo "${name}: exit code ${rc}, $(cat "${work}/${name}.time"), server $(cat "${work}/${name}.server")"
    [ "${rc}" = 0 ] || { echo "bench/run.sh: vendrak failed in ${name}" >&2; exit 1; }
}

# Replays work/EVENTS.events with the baseline; work/NAME.marks gets its
# phase marks, work/NAME.time its times.
run_baseline() {
    local name=$1 events=$2
    shift 2
    with_server_cpu "${name}" /usr/bin/time -f "%e %U %S %M" -o "${work}/${name}.time" \
        "${baseline}" "${work}/${events}.events" "${dsn}" "$@" >"${work}/${name}.marks"
    echo "${name}: $(cat "${work}/${name}.time"), server $(cat "${work}/${name}.server")"
}

full_marks=("DELETE FROM QVSYSTEM.TRMASWDNL" "DELETE FROM QVSYSTEM.SALASWDNL"
            "DELETE FROM QVSYSTEM.ASWBKLDNL")
key_marks=("SELECT DnlKey")

# Notes the load averages of the last 1, 5 and 15 minutes before the run NAME.
note_load() {
    echo "$1 $(cut -d' ' -f1-3 /proc/loadavg)" >>"${work}/load.txt"
}

# ROUNDS rounds of the program (recorded) and the baseline, each run from the
# same table contents (STATE, as for reset_tables); odd rounds run the
# program first, even rounds the baseline. The first program run gives the
# reference contents and the sequence that every replay repeats; after the
# first full rebuild its results are kept in schema bench as the state before
# the key runs.
measure() {
    local mode=$1 size=$2 rounds=$3 state=$4 round suffix side
    shift 4
    local marks=("${full_marks[@]}") sides
    [ "${mode}" = key ] && marks=("${key_marks[@]}")
    local base="${mode}-${size}"
    for round in $(seq 1 "${rounds}"); do
        suffix=""
        [ "${round}" -gt 1 ] && suffix="-round${round}"
        sides=(program baseline)
        [ $((round % 2)) = 0 ] && sides=(baseline program)
        [[ ",${program_only}," == *",${size},"* ]] && sides=(program)
        for side in "${sides[@]}"; do
            reset_tables "${state}"
            note_load "${base}-${side}${suffix}"
            if [ "${side}" = baseline ]; then
                run_baseline "${base}-baseline${suffix}" "${base}-program" "${marks[@]}"
                check_contents "${base}-baseline${suffix}" "${reference}"
            else
                RECORD=1 run_program "${base}-program${suffix}" "${work}/site" "$@"
                program_done "${mode}" "${base}" "${round}"
            fi
        done
    done
}

# Runs "$@" on both servers.
on_both() {
    "$@"
    sql_port=${port2} "$@"
}

# ROUNDS interleaved pairs: the program as deployed (not recorded) and the
# baseline's replay of the first recorded run, each on its own server, both
# from the same table contents (STATE, as for reset_tables), taking turns of
# ${slice} s (bench/interleave.py). In odd rounds the program runs on the
# first server and has the first turn, in even ones it runs on the second
# and the baseline has the first turn, so that neither order nor server
# favours one side. work/NAME.active gets the active seconds of the program
# and of the baseline; both must leave the reference contents.
interleave_pairs() {
    local mode=$1 size=$2 rounds=$3 state=$4 round name
    shift 4
    local marks=("${full_marks[@]}")
    [ "${mode}" = key ] && marks=("${key_marks[@]}")
    local base="${mode}-${size}"
    [[ ",${program_only}," == *",${size},"* ]] && return 0
    local events="${work}/${base}-program.events"
    for round in $(seq 1 "${rounds}"); do
        name="${base}-interleaved-round${round}"
        on_both reset_tables "${state}"
        note_load "${name}"
        if [ $((round % 2)) = 1 ]; then
            python3 "${bench}/interleave.py" "${slice}" "${work}/${name}.active" \
                -- "${work}/site/app/bin" "${vendrak}" "$@" \
                -- "${work}" "${baseline}" "${events}" "${dsn_second}" "${marks[@]}"
            check_contents "${name}-program" "${reference}"
            sql_port=${port2} check_contents "${name}-baseline" "${reference}"
        else
            python3 "${bench}/interleave.py" "${slice}" "${work}/${name}.turns" \
                -- "${work}" "${baseline}" "${events}" "${dsn}" "${marks[@]}" \
                -- "${work}/site2/app/bin" "${vendrak}" "$@"
            awk '{ print $2, $1 }' "${work}/${name}.turns" >"${work}/${name}.active"
            sql_port=${port2} check_contents "${name}-program" "${reference}"
            check_contents "${name}-baseline" "${reference}"
        fi
    done
}

# After a program run of measure(): the first sets the reference contents
# (and, of a full rebuild, keeps them in schema bench); the others must
# match it.
program_done() {
    local mode=$1 base=$2 round=$3 t
    if [ "${round}" != 1 ]; then
        check_contents "${base}-program-round${round}" "${reference}"
        return
    fi
    reference=$(contents)
    echo "${base}-program: ${reference}" | tee -a "${work}/checks.txt"
    if [ "${mode}" = full ]; then
        for t in "${tables[@]}"; do
            sql -c "CREATE TABLE bench.${t} AS SELECT * FROM qvsystem.${t}"
            sql_port=${port2} sql -c "CREATE TABLE bench.${t} (LIKE qvsystem.${t})"
            sql -c "COPY bench.${t} TO STDOUT" |
                sql_port=${port2} sql -c "COPY bench.${t} FROM STDIN"
        done
    fi
}
smallest=${size_list[0]}
for size in "${size_list[@]}"; do
    [ "${size}" -lt "${smallest}" ] && smallest=${size}
done

for index in "${!size_list[@]}"; do
    size=${size_list[${index}]}
    rounds=${rounds_list[-1]}
    [ "${index}" -lt "${#rounds_list[@]}" ] && rounds=${rounds_list[${index}]}
    if [ "${resume}" = 1 ] && [ -f "${work}/key-${size}-before.time" ]; then
        echo "size ${size}: measured by the earlier run"
        continue
    fi
    step "site of about ${size} TrmAswDnl rows"
    # About 24 rows per badge with 40 terminals; corrections on the
    # generator's own count bring the site within 1% of the size.
    badges=$(( size / 24 + key_badges ))
    site_sql="${work}/site-${size}.sql"
    for attempt in 1 2 3 4; do
        python3 "${top}/scripts/gen_site.py" --seed 1 --terminals "${terminals}" \
            --badges "${badges}" --key "${key}" --key-badges "${key_badges}" >"${site_sql}"
        rows=$(sed -n 's/^-- expected TrmAswDnl rows: //p' "${site_sql}")
        [ $(( (size - rows) * 100 / size )) -eq 0 ] && break
        badges=$(( badges + (size - rows) / 24 ))
    done
    echo "${terminals} terminals, ${badges} badges: ${rows} TrmAswDnl rows expected"
    on_both sql -f "${site_sql}"
    on_both settle_database
    echo "${size} ${rows} ${terminals} ${badges} ${key_badges}" >"${work}/site-${size}.txt"
    on_both sql -c "DROP SCHEMA IF EXISTS bench CASCADE" -c "CREATE SCHEMA bench"

    step "full rebuild, ${rows} rows"
    measure full "${size}" "${rounds}" empty
    interleave_pairs full "${size}" "${rounds}" empty
    if [ "${size}" = "${smallest}" ]; then
        reset_tables empty
        run_program "full-${size}-unrecorded" "${work}/site"
        check_contents "full-${size}-unrecorded" "${reference}"
        reset_tables empty
        run_program "full-${size}-unbatched" "${work}/site0"
        check_contents "full-${size}-unbatched" "${reference}"
        reset_tables empty
        VALGRIND="valgrind --tool=callgrind --callgrind-out-file=${work}/callgrind.out" \
            run_program "full-${size}-callgrind" "${work}/site" 2>"${work}/callgrind.log"
        check_contents "full-${size}-callgrind" "${reference}"
    fi

    step "key run of ${key_badges} badges, ${rows} rows"
    # The badges under the key are new ones; the system makes them valid on
    # the day it lists them under a key.
    on_both sql -c "UPDATE qvsystem.qvs301asw SET aswgvo = CURRENT_DATE WHERE aswnum IN
            (SELECT rtrim(dnlasw) FROM qvsystem.qvsaswdnl WHERE dnlkey = '${key}')"
    on_both settle_database
    measure key "${size}" "${rounds}" rebuilt "${key}"
    interleave_pairs key "${size}" "${rounds}" rebuilt "${key}"
    if [ "${size}" = "${smallest}" ]; then
        reset_tables rebuilt
        run_program "key-${size}-unrecorded" "${work}/site" "${key}"
        check_contents "key-${size}-unrecorded" "${reference}"
        reset_tables rebuilt
        run_program "key-${size}-unbatched" "${work}/site0" "${key}"
        check_contents "key-${size}-unbatched" "${reference}"
    fi

    step "key run of ${key_badges} badges, ${rows} rows, without the index of TrmAswDnl by badge"
    python3 "${top}/scripts/gen_site.py" --indexes source --indexes-only | sql
    reset_tables rebuilt
    RECORD=1 run_program "key-${size}-before" "${work}/site" "${key}"
    check_contents "key-${size}-before" "${reference}"
    python3 "${top}/scripts/gen_site.py" --indexes all --indexes-only | sql
done

step "report"
python3 "${bench}/report.py" --work "${work}" --sizes "${sizes}" --smallest "${smallest}"
if [ "${different}" != 0 ]; then
    echo "bench/run.sh: some runs left different table contents (see above)" >&2
    exit 1
fi
