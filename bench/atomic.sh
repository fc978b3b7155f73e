#!/usr/bin/env bash
# The atomic rebuild against the default one (not a test; CI does not run it):
#
#   bench/atomic.sh [--size 100000] [--rounds 3]
#
# Generates the site as bench/run.sh does (scripts/gen_site.py --seed 1, 40
# terminals, badges chosen for about SIZE TrmAswDnl rows), loads it into a
# server of its own and runs full rebuilds with the real vendrak through a
# data source without batched fetching (UseDeclareFetch=0, psqlODBC reads
# every result whole: the atomic rebuild refuses a batched data source, on
# which psqlODBC may roll back more than a failed statement): each round
# runs the default mode and VENDRAK_REBUILD=atomic (with its proof of the
# tables' content) one after the other, the order turning from round to
# round, so that other load on the machine falls on both alike; the ratio
# is taken per round. Every run starts from the tables of the first default
# rebuild (a site's daily case: the rebuild replaces the previous tables)
# and must leave the same contents. One more atomic rebuild runs with the
# test interposer's event log, which times the proof: from its first count
# to the end of the run (the commit included). After the rebuilds, a key
# run of 100 badges in each mode must leave the same contents as well.
#
# Writes its figures into bench/atomic.md (section "Atomic rebuild", one
# subsection per site size, bench/atomic_report.py); working files go to
# bench/work-atomic/. The server is started for this run and stopped at the
# end by its PID.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bench="${top}/bench"
work="${bench}/work-atomic"
server="${top}/tests/support/pgserver.sh"
size=100000
rounds=3
terminals=40
key=BENCH
key_badges=100
dsn=QVATOMIC

usage() { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
    case "$1" in
    --size) size=${2:?--size needs a number}; shift 2 ;;
    --rounds) rounds=${2:?--rounds needs a number}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "bench/atomic.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
done
[[ "${size}" =~ ^[1-9][0-9]*$ ]] || { echo "bench/atomic.sh: bad size ${size}" >&2; exit 2; }
[[ "${rounds}" =~ ^[1-9][0-9]*$ ]] || { echo "bench/atomic.sh: bad rounds ${rounds}" >&2; exit 2; }

step() { printf '\n== %s ==\n' "$*"; }
sql() { psql -X -q -v ON_ERROR_STOP=1 "$@"; }
[ -x /usr/bin/time ] || "${top}/scripts/install-deps.sh" time

step "build"
cd "${top}"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vendrak vendrak-settings vendrak_odbc_interposer \
    >/dev/null
vendrak="${top}/build/vendrak"
interposer="${top}/build/tests/libvendrak_odbc_interposer.so"
"${vendrak}" --version

step "database"
db="${work}/db"
mkdir -p "${work}"
"${server}" start "${db}"
trap '"${server}" stop "${db}" >/dev/null 2>&1 || true' EXIT
# shellcheck source=/dev/null
source "${db}/env"
find "${work}" -mindepth 1 -maxdepth 1 ! -name db -exec rm -rf {} +
cat >"${work}/odbc.ini" <<INI
[${dsn}]
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=${PGPORT}
Database=${PGDATABASE}
UseDeclareFetch=0
INI
export ODBCINI="${work}/odbc.ini"
root="${work}/site"
mkdir -p "${root}/files" "${root}/Quorvance_php/log" "${root}/app/bin"
printf '%s\n' "${PGPASSWORD}" | "${top}/build/vendrak-settings" write \
    "${root}/files/quorvance.ini" --login "${PGUSER}" --password-stdin \
    --db-system ORACLE --database "${dsn}" >/dev/null

# shellcheck source=bench/download_tables.sh
source "${bench}/download_tables.sh"

# Puts the download tables back to the contents kept in schema bench.
reset_tables() {
    local t commands=(-c "TRUNCATE ${table_list}")
    for t in "${tables[@]}"; do
        commands+=(-c "INSERT INTO qvsystem.${t} SELECT * FROM bench.${t}")
    done
    sql "${commands[@]}" -c "VACUUM ANALYZE ${table_list}"
}

# Runs vendrak as deployed in MODE (default or atomic); work/NAME.time gets
# "wall user system maxrss"; with RECORD=1 the interposer writes
# work/NAME.events.
run_program() {
    local name=$1 mode=$2 rc=0
    shift 2
    local environment=(env -u VENDRAK_REBUILD)
    [ "${mode}" = atomic ] && environment=(env VENDRAK_REBUILD=atomic)
    if [ "${RECORD:-0}" = 1 ]; then
        environment+=(LD_PRELOAD="${interposer}" VENDRAK_IP_EVENTS="${work}/${name}.events")
    fi
    (cd "${root}/app/bin" && /usr/bin/time -f "%e %U %S %M" -o "${work}/${name}.time" \
        "${environment[@]}" "${vendrak}" "$@") || rc=$?
    echo "${name}: exit code ${rc}, $(cat "${work}/${name}.time")"
    [ "${rc}" = 0 ] || { echo "bench/atomic.sh: vendrak failed in ${name}" >&2; exit 1; }
}

step "site of about ${size} TrmAswDnl rows"
badges=$(( size / 24 + key_badges ))
site_sql="${work}/site.sql"
for _ in 1 2 3 4; do
    python3 "${top}/scripts/gen_site.py" --seed 1 --terminals "${terminals}" \
        --badges "${badges}" --key "${key}" --key-badges "${key_badges}" >"${site_sql}"
    rows=$(sed -n 's/^-- expected TrmAswDnl rows: //p' "${site_sql}")
    [ $(( (size - rows) * 100 / size )) -eq 0 ] && break
    badges=$(( badges + (size - rows) / 24 ))
done
echo "${terminals} terminals, ${badges} badges: ${rows} TrmAswDnl rows expected"
sql -f "${site_sql}"
sql -c "DROP SCHEMA IF EXISTS bench CASCADE" -c "CREATE SCHEMA bench"

step "first full rebuild (reference contents)"
sql -c "TRUNCATE ${table_list}"
run_program full-reference default
reference=$(contents)
echo "reference: ${reference}" | tee -a "${work}/checks.txt"
for t in "${tables[@]}"; do
    sql -c "CREATE TABLE bench.${t} AS SELECT * FROM qvsystem.${t}"
done

for round in $(seq 1 "${rounds}"); do
    order=(default atomic)
    [ $(( round % 2 )) = 0 ] && order=(atomic default)
    for mode in "${order[@]}"; do
        step "full rebuild, ${mode}, round ${round}"
        reset_tables
        run_program "full-${mode}-${round}" "${mode}"
        check_contents "full-${mode}-${round}" "${reference}"
    done
done

step "atomic rebuild with the event log (the proof's time)"
reset_tables
RECORD=1 run_program full-atomic-events atomic
check_contents full-atomic-events "${reference}"

step "key run of ${key_badges} badges"
sql -c "UPDATE qvsystem.qvs301asw SET aswgvo = CURRENT_DATE WHERE aswnum IN
        (SELECT rtrim(dnlasw) FROM qvsystem.qvsaswdnl WHERE dnlkey = '${key}')"
reset_tables
run_program key-default default "${key}"
key_reference=$(contents)
reset_tables
run_program key-atomic atomic "${key}"
check_contents key-atomic "${key_reference}"

step "report"
python3 "${bench}/atomic_report.py" "${work}" "${rounds}" "${rows}" "${different}" \
    "${bench}/atomic.md"
cat "${bench}/atomic.md"
if [ "${different}" != 0 ]; then
    echo "bench/atomic.sh: some runs left different table contents (see above)" >&2
    exit 1
fi
