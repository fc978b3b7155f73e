#!/usr/bin/env bash
# Starts or stops the private PostgreSQL server of the tests and the demo.
#
#   pgserver.sh start DIR   create (first time) and start a cluster in DIR on a
#                           free port of 127.0.0.1; writes DIR/odbcinst.ini,
#                           DIR/odbc.ini (DSN vendrak_test) and DIR/env
#   pgserver.sh stop DIR    stop that server by the PID in its PID file
#
# A start on an existing DIR starts the same cluster on the same port again.
# As root the server runs as the postgres user.
set -euo pipefail

action=${1:?usage: pgserver.sh start|stop DIR}
dir=${2:?usage: pgserver.sh start|stop DIR}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "${bin}" ] || { echo "pgserver.sh: no PostgreSQL server found" >&2; exit 1; }

user=vendrak
password=vendrak-secret
database=vendrak

as_server_user() {
    if [ "$(id -u)" = 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

running() {
    [ -f "${dir}/data/postmaster.pid" ] && as_server_user "${bin}/pg_ctl" -D "${dir}/data" status >/dev/null 2>&1
}

psql_admin() {
    as_server_user "${bin}/../bin/psql" -X -q -v ON_ERROR_STOP=1 -h "${socket_dir}" \
        -p "$(cat "${dir}/port")" "$@"
}

write_odbc_config() {
    local driver
    driver=$(ls /usr/lib/*/odbc/psqlodbca.so /usr/lib/odbc/psqlodbca.so 2>/dev/null | head -n 1 || true)
    [ -n "${driver}" ] || { echo "pgserver.sh: psqlODBC (odbc-postgresql) not installed" >&2; exit 1; }
    cat >"${dir}/odbcinst.ini" <<INI
[PostgreSQL ANSI]
Description=psqlODBC ANSI driver
Driver=${driver}
INI
    cat >"${dir}/odbc.ini" <<INI
[vendrak_test]
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=$(cat "${dir}/port")
Database=${database}
INI
    cat >"${dir}/env" <<ENV
export PGHOST=127.0.0.1
export PGPORT=$(cat "${dir}/port")
export PGUSER=${user}
export PGPASSWORD=${password}
export PGDATABASE=${database}
export ODBCSYSINI=${dir}
export ODBCINI=${dir}/odbc.ini
ENV
}

create_cluster() {
    free_port >"${dir}/port"
    as_server_user "${bin}/initdb" -D "${dir}/data" -U postgres -A trust --no-sync -E UTF8 \
        --locale=C >"${dir}/initdb.log"
    cat >>"${dir}/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $(cat "${dir}/port")
unix_socket_directories = '${socket_dir}'
fsync = off
synchronous_commit = off
full_page_writes = off
CONF
    # Password authentication for TCP, so that a wrong password is refused.
    cat >"${dir}/data/pg_hba.conf" <<HBA
local all postgres trust
host all all 127.0.0.1/32 scram-sha-256
HBA
}

load_schema() {
    psql_admin -U postgres -d postgres <<SQL
CREATE ROLE ${user} LOGIN PASSWORD '${password}';
CREATE DATABASE ${database} OWNER ${user};
SQL
    psql_admin -U postgres -d "${database}" <<SQL
CREATE SCHEMA qvsystem AUTHORIZATION ${user};
\\i ${here}/compat.sql
GRANT USAGE ON SCHEMA oracompat TO ${user};
ALTER ROLE ${user} SET search_path = oracompat, pg_catalog, public;
SET ROLE ${user};
\\i ${here}/schema.sql
SQL
}

mkdir -p "${dir}"
dir=$(cd "${dir}" && pwd)
# Socket paths are short on Linux; a long DIR gets its socket under /tmp.
socket_dir="${dir}/socket"
if [ ${#socket_dir} -gt 80 ]; then
    socket_dir="/tmp/vendrak-pg-$(printf '%s' "${dir}" | md5sum | cut -c1-12)"
fi

case "${action}" in
start)
    mkdir -p "${socket_dir}"
    if [ "$(id -u)" = 0 ]; then chown postgres "${dir}" "${socket_dir}"; fi
    fresh=0
    if [ ! -d "${dir}/data" ]; then
        create_cluster
        fresh=1
    fi
    if ! running; then
        as_server_user "${bin}/pg_ctl" -D "${dir}/data" -l "${dir}/server.log" -w -t 30 start >/dev/null
    fi
    if [ "${fresh}" = 1 ]; then load_schema; fi
    write_odbc_config
    ;;
stop)
    if [ -d "${dir}/data" ] && running; then
        as_server_user "${bin}/pg_ctl" -D "${dir}/data" -m fast -w -t 30 stop >/dev/null
    fi
    ;;
*)
    echo "usage: pgserver.sh start|stop DIR" >&2
    exit 2
    ;;
esac
