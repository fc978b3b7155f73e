#!/usr/bin/env bash
# Starts or stops the private TDS server (Babelfish for PostgreSQL) of the
# MSSQL tests and the demo, the way pgserver.sh does for PostgreSQL.
#
#   bfserver.sh start DIR   unpack Babelfish, make and start a cluster on free
#                           ports of 127.0.0.1 and load schema_mssql.sql (first
#                           time); writes DIR/odbcinst.ini, DIR/odbc.ini (DSN
#                           vendrak_test through FreeTDS), DIR/port (the
#                           engine's PostgreSQL port), DIR/database and DIR/env
#   bfserver.sh stop DIR    stop it by its PID and remove its files
#   bfserver.sh crash DIR   end it at once (its sessions die) and start it again
#
# Babelfish comes from the tarball in VENDRAK_BABELFISH_DIR (default: the
# folder shared/babelfish beside the checkout), else from an installation in
# /opt/babelfish. Without either, start says so in one line and exits 77.
# As root the server runs as the postgres user, so its files live in a
# folder of their own under /var/tmp that DIR/server-home records.
set -euo pipefail

action=${1:?usage: bfserver.sh start|stop|crash DIR}
dir=${2:?usage: bfserver.sh start|stop|crash DIR}
here=$(cd "$(dirname "$0")" && pwd)
shared=${VENDRAK_BABELFISH_DIR:-${here}/../../../shared/babelfish}
mkdir -p "${dir}"
dir=$(cd "${dir}" && pwd)
home=$(cat "${dir}/server-home" 2>/dev/null || true)
export BF_MODE=single-db BF_LOGIN=vendrak BF_PASSWORD=vendrak-secret BF_DB=vendrak

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The server's own copy of start.sh and its tree (or a link to the
# installation) live in its folder, so that stop and crash need nothing else.
server() {
    BF_PG_PORT=$(cat "${dir}/port") BF_PREFIX=${home}/babelfish "${home}/start.sh" \
        "${home}/data" "$(cat "${dir}/tds-port")" "$@" >/dev/null
}
install_server() {
    home=$(mktemp -d /var/tmp/vendrak-bf.XXXXXXXXXX)
    chmod 755 "${home}"
    if [ -f "${shared}/start.sh" ]; then
        cp "${shared}/start.sh" "${home}/"
        tar --zstd -xf "${shared}"/babelfish-*.tar.zst -C "${home}"
    else
        cp /opt/babelfish/start.sh "${home}/"
        ln -s /opt/babelfish "${home}/babelfish"
    fi
    printf '%s\n' "${home}" >"${dir}/server-home"
}

case "${action}" in
start)
    if [ -z "${home}" ] || [ ! -d "${home}" ]; then
        if [ ! -f "${shared}/start.sh" ] && [ ! -f /opt/babelfish/start.sh ]; then
            echo "no Babelfish: ${shared} is absent (set VENDRAK_BABELFISH_DIR to its folder)"
            exit 77
        fi
        install_server
        free_port >"${dir}/tds-port"
        free_port >"${dir}/port"
        server start
        { cat "${here}/schema_mssql.sql"; echo exit; } |
            TDSVER=7.4 tsql -H 127.0.0.1 -p "$(cat "${dir}/tds-port")" -U "${BF_LOGIN}" \
                -P "${BF_PASSWORD}" -D "${BF_DB}" >"${home}/schema.log" 2>&1
        if grep -E '^Msg [0-9]+' "${home}/schema.log" >&2; then exit 1; fi
    else
        server start
    fi
    cat >"${dir}/odbcinst.ini" <<INI
[FreeTDS]
Driver=$(ls /usr/lib/*/odbc/libtdsodbc.so | head -n 1)
INI
    cat >"${dir}/odbc.ini" <<INI
[vendrak_test]
Driver=FreeTDS
Server=127.0.0.1
Port=$(cat "${dir}/tds-port")
TDS_Version=7.4
Database=${BF_DB}
ClientCharset=UTF-8
INI
    echo babelfish_db >"${dir}/database"
    cat >"${dir}/env" <<ENV
export PGHOST=127.0.0.1 PGPORT=$(cat "${dir}/port") PGUSER=${BF_LOGIN} PGPASSWORD=${BF_PASSWORD}
export PGDATABASE=babelfish_db ODBCSYSINI=${dir} ODBCINI=${dir}/odbc.ini
ENV
    ;;
stop)
    if [ -n "${home}" ] && [ -d "${home}" ]; then
        server stop
        rm -rf "${home}"
    fi
    rm -f "${dir}/server-home"
    ;;
crash)
    stop_now=("${home}/babelfish/bin/pg_ctl" -D "${home}/data" -m immediate -w stop)
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "${stop_now[@]}"; else "${stop_now[@]}"; fi >/dev/null
    server start
    ;;
esac
