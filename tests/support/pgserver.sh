#!/usr/bin/env bash
# Starts or stops the private PostgreSQL server of the tests and the demo.
#
#   pgserver.sh start DIR   create (first time) and start a cluster for DIR on
#                           a free port of 127.0.0.1; writes DIR/port,
#                           DIR/odbcinst.ini, DIR/odbc.ini (DSN vendrak_test)
#                           and DIR/env
#   pgserver.sh stop DIR    stop that server by the PID in its PID file; as
#                           root also remove its files (see below)
#   pgserver.sh halt DIR    stop that server but keep its files, so that the
#                           next start brings back the same cluster and port
#   pgserver.sh crash DIR   stop that server hard (its sessions end at once, as
#                           in a crash) and start it again on the same port
#   pgserver.sh status DIR  exit code 0 when that server runs, 1 otherwise
#   pgserver.sh standby DIR [NAME]
#                           every commit that writes waits for the synchronous
#                           standby NAME (which need not exist); without NAME
#                           for none again
#
# A start on an existing DIR starts the same cluster on the same port again; a
# start while it runs only rewrites the files above.
#
# Run by another user than root, the server runs as that user and its files
# (cluster, socket, server log) stay in DIR. Run as root, the server runs as
# the postgres user, which cannot reach a DIR inside a private folder such as
# /root: its files then live in a folder of their own, made with mktemp under
# /var/tmp and owned by postgres, whose path DIR/server-home records. Each DIR
# has its own such folder, and stop (not halt) removes it again.
set -euo pipefail

action=${1:?usage: pgserver.sh start|stop|halt|status|crash|standby DIR}
dir=${2:?usage: pgserver.sh start|stop|halt|status|crash|standby DIR}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(printf '%s\n' /usr/lib/postgresql/*/bin | grep -v '\*' | sort -V | tail -n 1 || true)
[ -n "${bin}" ] || { echo "pgserver.sh: no PostgreSQL server found" >&2; exit 1; }

user=vendrak
password=vendrak-secret
database=vendrak
# The tests create roles of their own (a user with a long name, say).
role_setup="ALTER ROLE ${user} CREATEROLE;"

# As root the server's commands run as the postgres user, from / (the
# caller's folder may be closed to that user); they get absolute paths only.
as_server_user() {
    if [ "$(id -u)" = 0 ]; then
        (cd / && runuser -u postgres -- "$@")
    else
        "$@"
    fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

running() {
    [ -f "${home}/data/postmaster.pid" ] &&
        as_server_user "${bin}/pg_ctl" -D "${home}/data" status >/dev/null 2>&1
}

start_server() {
    if ! as_server_user "${bin}/pg_ctl" -D "${home}/data" -l "${home}/server.log" -w -t 30 \
        start >/dev/null; then
        echo "pgserver.sh: the server did not start; end of ${home}/server.log:" >&2
        tail -n 20 "${home}/server.log" >&2 || true
        return 1
    fi
}

psql_admin() {
    as_server_user "${bin}/psql" -X -q -v ON_ERROR_STOP=1 -h "${socket_dir}" \
        -p "$(cat "${dir}/port")" "$@"
}

# The ANSI driver of psqlODBC: the usual multiarch place, else wherever the
# package put it.
driver_path() {
    local found="" candidate
    for candidate in /usr/lib/*/odbc/psqlodbca.so /usr/lib/odbc/psqlodbca.so; do
        if [ -z "${found}" ] && [ -f "${candidate}" ]; then found=${candidate}; fi
    done
    if [ -z "${found}" ] && command -v dpkg >/dev/null; then
        found=$(dpkg -L odbc-postgresql 2>/dev/null | grep '/psqlodbca\.so$' | head -n 1 || true)
    fi
    printf '%s' "${found}"
}

write_odbc_config() {
    local driver port
    driver=$(driver_path)
    [ -n "${driver}" ] || { echo "pgserver.sh: psqlODBC (odbc-postgresql) not installed" >&2; exit 1; }
    port=$(cat "${dir}/port")
    # No CommLog: the driver would leave a log file per connection in /tmp.
    cat >"${dir}/odbcinst.ini" <<INI
[PostgreSQL ANSI]
Description=psqlODBC ANSI driver
Driver=${driver}
INI
    cat >"${dir}/odbc.ini" <<INI
[vendrak_test]
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=${port}
Database=${database}
INI
    cat >"${dir}/env" <<ENV
export PGHOST=127.0.0.1
export PGPORT=${port}
export PGUSER=${user}
export PGPASSWORD=${password}
export PGDATABASE=${database}
export ODBCSYSINI=${dir}
export ODBCINI=${dir}/odbc.ini
ENV
}

create_cluster() {
    free_port >"${dir}/port"
    as_server_user "${bin}/initdb" -D "${home}/data" -U postgres -A trust --no-sync -E UTF8 \
        --locale=C >"${home}/initdb.log"
    # No flushes to disk, but commits stay synchronous: a commit is written
    # before the client sees it, so a crash of the server (the crash action)
    # loses nothing that a client saw committed. No JIT: on tables without
    # statistics the planner may think a small query expensive and spend most
    # of a second compiling it.
    cat >>"${home}/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $(cat "${dir}/port")
unix_socket_directories = '${socket_dir}'
fsync = off
full_page_writes = off
jit = off
CONF
    # Password authentication over TCP, so that a wrong password is refused;
    # the administrator comes in through the socket only.
    cat >"${home}/data/pg_hba.conf" <<HBA
local all postgres trust
host all all 127.0.0.1/32 scram-sha-256
HBA
}

create_database() {
    psql_admin -U postgres -d postgres <<SQL
CREATE ROLE ${user} LOGIN PASSWORD '${password}';
CREATE DATABASE ${database} OWNER ${user};
ALTER ROLE ${user} SET search_path = oracompat, pg_catalog, public;
SQL
}

schema_sum() {
    { cat "${here}/compat.sql" "${here}/schema.sql"; printf '%s\n' "${role_setup}"; } |
        md5sum | cut -d' ' -f1
}

# (Re)creates the schemas qvsystem and oracompat from schema.sql and
# compat.sql, and gives the role its attributes (role_setup). A running
# cluster whose files or role setup changed since its last load gets them
# anew at the next start (its data is lost, the tests empty the tables
# anyway). The files reach psql on its standard input, read by the caller,
# since the postgres user may not be able to read them.
load_schema() {
    {
        cat <<SQL
SET client_min_messages = warning;
DROP SCHEMA IF EXISTS qvsystem CASCADE;
DROP SCHEMA IF EXISTS oracompat CASCADE;
CREATE SCHEMA qvsystem AUTHORIZATION ${user};
${role_setup}
SQL
        cat "${here}/compat.sql"
        printf 'GRANT USAGE ON SCHEMA oracompat TO %s;\nSET ROLE %s;\n' "${user}" "${user}"
        cat "${here}/schema.sql"
    } | psql_admin -U postgres -d "${database}"
    schema_sum >"${home}/schema.sum"
}

# As root: the private folder that DIR/server-home names, when it still
# exists. Only a folder of the form this script makes counts, since stop
# removes it.
recorded_home() {
    local recorded
    recorded=$(cat "${dir}/server-home" 2>/dev/null || true)
    case "${recorded}" in
    /var/tmp/vendrak-pg.*) if [ -d "${recorded}" ]; then printf '%s' "${recorded}"; fi ;;
    esac
}

# As root: a new private folder for the server's files, owned by postgres
# and recorded in DIR/server-home.
make_home() {
    home=$(mktemp -d /var/tmp/vendrak-pg.XXXXXXXXXX)
    chown postgres:postgres "${home}"
    printf '%s\n' "${home}" >"${dir}/server-home"
}

# Removes the server's files: as root its whole private folder and the
# record, otherwise the cluster in DIR.
remove_server_files() {
    if [ "$(id -u)" = 0 ]; then
        rm -rf "${home}" "${dir}/server-home"
    else
        rm -rf "${home}/data"
    fi
}

# A cluster whose creation failed half-way is removed, so that the next start
# begins afresh instead of running a server without the schema.
creating=0
discard_unfinished_cluster() {
    local status=$?
    if [ "${creating}" = 1 ]; then
        if running; then
            as_server_user "${bin}/pg_ctl" -D "${home}/data" -m immediate -w stop >/dev/null 2>&1 || true
        fi
        remove_server_files
        echo "pgserver.sh: creating the cluster for ${dir} failed" >&2
    fi
    exit "${status}"
}

if [ "${action}" = status ] && [ ! -d "${dir}" ]; then
    exit 1
fi
mkdir -p "${dir}"
dir=$(cd "${dir}" && pwd)
if [ "$(id -u)" = 0 ]; then
    home=$(recorded_home)
    if [ -z "${home}" ]; then
        case "${action}" in
        start) make_home ;;
        stop | halt) rm -f "${dir}/server-home"; exit 0 ;;
        status) exit 1 ;;
        crash) echo "pgserver.sh: no server for ${dir}" >&2; exit 1 ;;
        esac
    fi
    socket_dir="${home}/socket"
else
    home=${dir}
    # Socket paths are limited to about 107 bytes; a long DIR gets its socket
    # folder under /tmp instead.
    socket_dir="${dir}/socket"
    if [ ${#socket_dir} -gt 80 ]; then
        socket_dir="/tmp/vendrak-pg-$(printf '%s' "${dir}" | md5sum | cut -c1-12)"
    fi
fi

case "${action}" in
start)
    mkdir -p "${socket_dir}"
    if [ "$(id -u)" = 0 ]; then
        chown postgres:postgres "${socket_dir}"
    fi
    if [ ! -d "${home}/data" ]; then
        creating=1
        trap discard_unfinished_cluster EXIT
        create_cluster
        start_server
        create_database
        load_schema
        creating=0
        trap - EXIT
    elif ! running; then
        start_server
    fi
    if [ "$(cat "${home}/schema.sum" 2>/dev/null || true)" != "$(schema_sum)" ]; then
        load_schema
    fi
    write_odbc_config
    ;;
stop | halt)
    if [ -d "${home}/data" ] && running; then
        as_server_user "${bin}/pg_ctl" -D "${home}/data" -m fast -w -t 30 stop >/dev/null
    fi
    if [ "${action}" = stop ] && [ "$(id -u)" = 0 ]; then
        remove_server_files
    fi
    ;;
standby)
    if [ -n "${3:-}" ]; then
        psql_admin -U postgres -d postgres -c "ALTER SYSTEM SET synchronous_standby_names = '$3'"
    else
        psql_admin -U postgres -d postgres -c "ALTER SYSTEM RESET synchronous_standby_names"
    fi
    psql_admin -U postgres -d postgres -c "SELECT pg_reload_conf()" >/dev/null
    ;;
status)
    [ -d "${home}/data" ] && running
    ;;
crash)
    as_server_user "${bin}/pg_ctl" -D "${home}/data" -m immediate -w -t 30 stop >/dev/null
    start_server
    ;;
*)
    echo "usage: pgserver.sh start|stop|halt|status|crash|standby DIR" >&2
    exit 2
    ;;
esac
