#!/usr/bin/env bash
# The private TDS server (Babelfish for PostgreSQL) of the Mssql tests and of
# `demo.sh --db mssql`, on free ports of 127.0.0.1, with schema.sql in T-SQL.
#   bfserver.sh start|stop|crash|status DIR
# start unpacks Babelfish from VENDRAK_BABELFISH_DIR (default: shared/babelfish
# beside the checkout) or uses /opt/babelfish, else exits 77; it writes
# DIR/odbc.ini (DSN vendrak_test through FreeTDS), odbcinst.ini, env, and port
# and database: the engine's PostgreSQL side, where the tests read and write
# the tables. The files live under /var/tmp (the postgres user runs it as
# root), in the folder that DIR/server-home names; stop removes them.
set -euo pipefail
action=$1 dir=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
shared=${VENDRAK_BABELFISH_DIR:-${here}/../../../shared/babelfish}
home=$(cat "${dir}/server-home" 2>/dev/null || true)
export BF_MODE=single-db BF_LOGIN=vendrak BF_PASSWORD=vendrak-secret BF_DB=vendrak
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
server() {
    BF_PG_PORT=$(cat "${dir}/port") BF_PREFIX=${home}/babelfish "${home}/start.sh" \
        "${home}/data" "$(cat "${dir}/tds-port")" "$@" >/dev/null
}
# SQL Server's types (int, datetime for dates), the site view's time from
# getdate(), and the batches that CREATE SCHEMA and CREATE VIEW stand alone in.
schema_in_tsql() {
    printf 'CREATE SCHEMA qvsystem\ngo\n'
    sed -e 's/\binteger\b/int/g; s/ date,/ datetime,/g; s/LOCALTIMESTAMP(0)/getdate()/' \
        -e 's/^CREATE VIEW/go\n&/; s/AS sysdate FROM.*/&\ngo/' "${here}/schema.sql"
    printf 'go\nexit\n'
}
install_server() {
    home=$(mktemp -d /var/tmp/vendrak-bf.XXXXXXXXXX)
    chmod 755 "${home}"; echo "${home}" >"${dir}/server-home"
    if [ -f "${shared}/start.sh" ]; then
        cp "${shared}/start.sh" "${home}/"; tar --zstd -xf "${shared}"/babelfish-*.tar.zst -C "${home}"
    else
        cp /opt/babelfish/start.sh "${home}/"; ln -s /opt/babelfish "${home}/babelfish"
    fi
    free_port >"${dir}/tds-port"; free_port >"${dir}/port"; server start
    schema_in_tsql | TDSVER=7.4 tsql -H 127.0.0.1 -p "$(cat "${dir}/tds-port")" -U vendrak \
        -P vendrak-secret -D vendrak >"${home}/schema.log" 2>&1
    if grep -E '^Msg [0-9]+' "${home}/schema.log" >&2; then exit 1; fi
}

case "${action}" in
start)
    if [ -n "${home}" ]; then
        server start
    elif [ -f "${shared}/start.sh" ] || [ -f /opt/babelfish/start.sh ]; then
        install_server
    else
        echo "no Babelfish: ${shared} is absent (set VENDRAK_BABELFISH_DIR to its folder)" && exit 77
    fi
    printf '[FreeTDS]\nDriver=%s\n' "$(ls /usr/lib/*/odbc/libtdsodbc.so | head -n 1)" >"${dir}/odbcinst.ini"
    printf '[vendrak_test]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=%s\nTDS_Version=7.4\n%s\n%s\n' \
        "$(cat "${dir}/tds-port")" Database=vendrak ClientCharset=UTF-8 >"${dir}/odbc.ini"
    echo babelfish_db >"${dir}/database"
    printf 'export PGHOST=127.0.0.1 PGPORT=%s PGUSER=vendrak PGPASSWORD=vendrak-secret %s\n' \
        "$(cat "${dir}/port")" "PGDATABASE=babelfish_db ODBCSYSINI=${dir} ODBCINI=${dir}/odbc.ini" >"${dir}/env"
    ;;
stop) if [ -n "${home}" ]; then server stop; rm -rf "${home}" "${dir}/server-home"; fi ;;
crash)
    stop_now=("${home}/babelfish/bin/pg_ctl" -D "${home}/data" -m immediate -w stop)
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "${stop_now[@]}"; else "${stop_now[@]}"; fi >/dev/null
    server start
    ;;
status) [ -n "${home}" ] && server status >/dev/null ;;
esac
