#!/usr/bin/env bash
# The demo: builds Vendrak, starts a private PostgreSQL on 127.0.0.1 (or
# reuses the one that runs already), loads a generated demo site, lays out an
# installation under demo/site, writes its settings file with
# vendrak-settings, checks it with `vendrak --check`, runs a full rebuild and
# then a key run with the real vendrak, and shows the exit codes, the run log, the rows per download table
# and a few sample rows. It stops the server again if it started it.
#
# With --db mssql the same demo runs with DB_SYSTEM=MSSQL on a private TDS
# server (Babelfish for PostgreSQL, tests/support/bfserver.sh) through FreeTDS,
# with read-only server cursors (VENDRAK_CURSORS=read-only); the site is
# loaded and shown through the server's PostgreSQL port.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
server="${top}/tests/support/pgserver.sh"
demo="${top}/demo"
db_system=ORACLE
case "${1:-} ${2:-}" in
" " | "--db postgresql") ;;
"--db mssql") db_system=MSSQL server="${top}/tests/support/bfserver.sh" ;;
*) echo "usage: scripts/demo.sh [--db postgresql|mssql]" >&2; exit 2 ;;
esac
site="${demo}/site"
key=DEMO0001
dsn=QVDEMO

step() { printf '\n== %s ==\n' "$*"; }
sql() { psql -X -q -P pager=off -v ON_ERROR_STOP=1 "$@"; }

# The demo's server; pgserver.sh decides where its files live (as root in a
# private folder under /var/tmp that the postgres user can reach).
db="${demo}/db"
if [ "${db_system}" = MSSQL ]; then db="${demo}/db-mssql"; fi

"${top}/scripts/install-deps.sh"

step "build"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vendrak vendrak-settings >/dev/null
"${top}/build/vendrak" --version

step "database"
started=0
if "${server}" status "${db}"; then
    echo "reusing the demo server of ${db} that runs already"
else
    started=1
fi
server_rc=0
"${server}" start "${db}" || server_rc=$?
if [ "${server_rc}" = 77 ]; then
    echo "demo: the SQL Server demo needs Babelfish for PostgreSQL: put its folder (the"
    echo "babelfish-*.tar.zst and start.sh) at ../shared/babelfish beside the checkout, or name"
    echo "it in VENDRAK_BABELFISH_DIR, and run scripts/demo.sh --db mssql again"
    exit 0
fi
[ "${server_rc}" = 0 ] || exit "${server_rc}"
if [ "${started}" = 1 ]; then
    trap '"${server}" stop "${db}" >/dev/null 2>&1 || true' EXIT
    echo "started a server for ${db}; it is stopped again at the end"
fi
# shellcheck source=/dev/null
source "${db}/env"
# The demo's own data source: psqlODBC reads big results in batches of 1000
# rows (UseDeclareFetch) instead of loading a whole cursor into memory.
mkdir -p "${demo}"
if [ "${db_system}" = MSSQL ]; then
    sed "s/^\[vendrak_test\]/[${dsn}]/" "${db}/odbc.ini" >"${demo}/odbc.ini"
    export VENDRAK_CURSORS=read-only
else
cat >"${demo}/odbc.ini" <<INI
[${dsn}]
Description=Vendrak demo site
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=${PGPORT}
Database=${PGDATABASE}
UseDeclareFetch=1
Fetch=1000
INI
fi
export ODBCINI="${demo}/odbc.ini"
echo "data source ${dsn}: ${db_system} on 127.0.0.1 ($(grep -m1 '^Driver=' "${ODBCINI}")), ${ODBCINI}"

step "demo site"
# Most badges have balance values, a few have none (what the run log then
# reports is explained after the full rebuild).
python3 "${top}/scripts/gen_site.py" --seed 1 --terminals 36 --badges 300 --key "${key}" \
    --without-values 2 --summary >"${demo}/site.sql"
sql -f "${demo}/site.sql"
expected=$(sed -n 's/^-- expected TrmAswDnl rows: //p' "${demo}/site.sql")
expected_after_key=$(sed -n 's/^-- expected TrmAswDnl rows after the key run: //p' "${demo}/site.sql")

step "installation layout and settings file"
rm -rf "${site}"
mkdir -p "${site}/files" "${site}/Quorvance_php/log" "${site}/app/bin"
settings="${site}/files/quorvance.ini"
printf '%s\n' "${PGPASSWORD}" | "${top}/build/vendrak-settings" write "${settings}" \
    --login "${PGUSER}" --password-stdin --db-system "${db_system}" --database "${dsn}"
(cd "${site}" && find . -mindepth 1 | sort | sed 's/^\.\//  /')
ls -l "${settings}"
"${top}/build/vendrak-settings" show "${settings}"

log="${site}/Quorvance_php/log/vendraklog.txt"
# Runs vendrak from the working directory of the installation; prints its
# exit code, its time and the lines it added to the run log.
run_vendrak() {
    local before=0 rc start
    if [ -f "${log}" ]; then before=$(wc -l <"${log}"); fi
    start=$(date +%s)
    set +e
    (cd "${site}/app/bin" && "${top}/build/vendrak" "$@")
    rc=$?
    set -e
    echo "exit code ${rc} after $(($(date +%s) - start)) s; run log:"
    tail -n +"$((before + 1))" "${log}" | sed 's/^/  /'
    return "${rc}"
}

# Rows of one badge in TrmAswDnl and AswBklDnl.
show_badge() {
    sql -c "SELECT dnltrm, dnlasw, dnlgvo, dnlgbi, dnlstb, dnlkze, dnlkzu, dnlsal, dnlsa1,
                   dnll01, dnlb01, dnll02, dnlb02, dnlpin, dnlnam
            FROM qvsystem.trmaswdnl WHERE dnlasw = '$1' ORDER BY dnltrm LIMIT 8" \
        -c "SELECT dnltrm, dnlasw, dnlbkl FROM qvsystem.aswbkldnl
            WHERE dnlasw = '$1' ORDER BY 1, 3 LIMIT 8"
}
count_rows() {
    sql -c "SELECT 'TrmAswDnl' AS download_table, count(*) AS rows FROM qvsystem.trmaswdnl
            UNION ALL SELECT 'SalAswDnl', count(*) FROM qvsystem.salaswdnl
            UNION ALL SELECT 'SalAswDnl2', count(*) FROM qvsystem.salaswdnl2
            UNION ALL SELECT 'AswBklDnl', count(*) FROM qvsystem.aswbkldnl"
}
# The sample badges hold a time recording and an access booking class, so
# that they have rows in every download table: one valid today, and the
# first new one listed under the key.
holds_both="EXISTS (SELECT 1 FROM qvsystem.qvs301awb WHERE awbasw = aswnum AND awbbkl LIKE 'K%')
            AND EXISTS (SELECT 1 FROM qvsystem.qvs301awb WHERE awbasw = aswnum AND awbbkl LIKE 'Z%')"
badge=$(sql -At -c "SELECT aswnum FROM qvsystem.qvs301asw
                    WHERE aswgvo <= CURRENT_DATE AND (aswgbi IS NULL OR aswgbi >= CURRENT_DATE)
                    AND coalesce(aswcod, 0) <> 8 AND ${holds_both}
                    AND aswsto IN (SELECT stonum FROM qvsystem.qvs113sto)
                    AND aswnum NOT IN (SELECT rtrim(dnlasw) FROM qvsystem.qvsaswdnl)
                    ORDER BY aswnum LIMIT 1")
new_badge=$(sql -At -c "SELECT aswnum FROM qvsystem.qvs301asw JOIN qvsystem.qvsaswdnl
                        ON rtrim(dnlasw) = aswnum WHERE dnlkey = '${key}' AND ${holds_both}
                        ORDER BY dnllfd LIMIT 1")

# Says beside the run log what its lines "Fehler SQLWriteSalAswDnl2()
# ReadSaldoWerte:... Errcode: 100" mean, having checked in the database that
# the badges they name have no balance values, and whether the run succeeded
# ($1: its exit code).
explain_balance_lines() {
    local named lines badges without
    named=$(sed -n 's/.*Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:.* Ausweis:\(.*\)! Errcode: 100$/\1/p' \
        "${log}")
    lines=$(grep -c . <<<"${named}" || true)
    badges=$(sort -u <<<"${named}" | grep -c . || true)
    without=$(sql -At -c "SELECT count(DISTINCT asw)
                          FROM unnest(string_to_array('$(paste -sd, - <<<"${named}")', ',')) AS b (asw)
                          WHERE NOT EXISTS (SELECT 1 FROM qvsystem.o2002tsw WHERE tswidn = asw)")
    echo
    echo "About this log: its ${lines} lines \"Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:..."
    echo "Errcode: 100\" are the program's normal report of badges without balance values"
    echo "on list-A terminals, not failures: they name ${badges} badges, ${without} of which have no"
    echo "balance values (no row in O2002TSW); the program goes on and writes their display"
    echo "lines from empty values."
    if [ "$1" = 0 ] && grep -q 'Saldenwerte erstellt!' "${log}"; then
        echo "The full rebuild succeeded: exit code 0, and the log says \"Saldenwerte erstellt!\"."
    else
        echo "The full rebuild did NOT succeed: exit code $1 (the log above says why)."
    fi
}

step "installation check: vendrak --check (changes nothing)"
check_rc=0
(cd "${site}/app/bin" && "${top}/build/vendrak" --check) || check_rc=$?
echo "exit code ${check_rc}"
[ "${check_rc}" = 0 ] || { echo "demo: the check found the demo installation unfit" >&2; exit 1; }

step "full rebuild: vendrak (no argument)"
echo "(a phase that fails is tried again up to four times, 10 seconds apart)"
full_rc=0
run_vendrak || full_rc=$?

explain_balance_lines "${full_rc}"

step "rows per download table (the site generator expects ${expected} TrmAswDnl rows)"
count_rows

step "sample rows"
echo "badge ${badge}, terminal and access authorisations:"
show_badge "${badge}"
echo "a badge's own balance table of model 5830-060 on 5830-020 terminals:"
sql -c "SELECT d.dnltrm, d.dnlasw, t.trmsal AS terminal_table, d.dnlsal
        FROM qvsystem.trmaswdnl d JOIN qvsystem.qvs1140trm t ON t.trmnam = d.dnltrm
        WHERE d.dnlsal <> t.trmsal ORDER BY 1, 2 LIMIT 3"
echo "balance display lines and value list of badge ${badge} (texts in brackets):"
group="SELECT dnlsal, dnlliz, dnlmnd, dnlspr FROM qvsystem.salaswdnl WHERE dnlasw = '${badge}'
       ORDER BY 1, 2, 3, 4 LIMIT 1"
sql -c "SELECT dnlsal, dnlspr, line, '[' || text || ']' AS display_text, '[' || value || ']' AS value
        FROM qvsystem.salaswdnl,
             LATERAL (VALUES (1, dnlsa1, dnlwr1), (2, dnlsa2, dnlwr2), (3, dnlsa3, dnlwr3),
                             (4, dnlsa4, dnlwr4), (5, dnlsa5, dnlwr5), (6, dnlsa6, dnlwr6),
                             (7, dnlsa7, dnlwr7), (8, dnlsa8, dnlwr8)) AS l (line, text, value)
        WHERE dnlasw = '${badge}' AND (dnlsal, dnlliz, dnlmnd, dnlspr) IN (${group})
        ORDER BY line" \
    -c "SELECT dnlsal, dnlspr, dnlwrt, '[' || dnlval || ']' AS dnlval FROM qvsystem.salaswdnl2
        WHERE dnlasw = '${badge}' AND (dnlsal, dnlliz, dnlmnd, dnlspr) IN (${group})
        ORDER BY dnlwrt::integer"

step "key run: vendrak ${key}"
echo "The request rows; the badges under ${key} are new and get valid today,"
echo "as the system does when it issues them and lists them under a key:"
sql -c "SELECT dnlkey, dnllfd, '[' || dnlasw || ']' AS dnlasw FROM qvsystem.qvsaswdnl
        ORDER BY dnlkey, dnllfd"
sql -c "UPDATE qvsystem.qvs301asw SET aswgvo = CURRENT_DATE
        WHERE aswnum IN (SELECT rtrim(dnlasw) FROM qvsystem.qvsaswdnl WHERE dnlkey = '${key}')"
key_rc=0
run_vendrak "${key}" || key_rc=$?
echo "rows per download table (the site generator expects ${expected_after_key} TrmAswDnl rows):"
count_rows
echo "badge ${new_badge} after the key run:"
show_badge "${new_badge}"

step "exit codes"
echo "full rebuild:         ${full_rc}"
echo "key run ${key}: ${key_rc}"
echo "(0 success, 99 failure; the run log in ${log} tells why)"
