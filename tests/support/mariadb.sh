#!/usr/bin/env bash
# Starts or stops the private MariaDB server of the Mysql tests.
#
#   mariadb.sh start DIR      make (first time) and start a server on a free port of
#                             127.0.0.1 with the tables of schema.sql in database
#                             qvsystem; writes DIR/odbcinst.ini and DIR/odbc.ini
#                             (DSN vendrak_test through MariaDB Connector/ODBC)
#   mariadb.sh sql DIR TEXT   run the statements TEXT as the tests' user
#   mariadb.sh stop DIR       stop it by its PID and remove its files
#
# Without mariadbd (package mariadb-server), start says so and exits 77. Its
# files live in a folder of its own under /var/tmp that DIR/server-home records.
set -euo pipefail

action=${1:?usage: mariadb.sh start|sql|stop DIR [TEXT]}
dir=${2:?usage: mariadb.sh start|sql|stop DIR [TEXT]}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "${dir}"
dir=$(cd "${dir}" && pwd)
home=$(cat "${dir}/server-home" 2>/dev/null || true)
user=$(id -un)

client() { mariadb --no-defaults -S "${home}/socket" -u root "$@"; }
running() { [ -f "${home}/pid" ] && kill -0 "$(cat "${home}/pid")" 2>/dev/null; }

start_server() {
    /usr/sbin/mariadbd --no-defaults --datadir="${home}/data" --socket="${home}/socket" \
        --pid-file="${home}/pid" --port="$(cat "${dir}/port")" --bind-address=127.0.0.1 \
        --lower-case-table-names=1 --user="${user}" >"${home}/server.log" 2>&1 &
    for _ in $(seq 1 100); do
        client -e 'SELECT 1' >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    tail -n 20 "${home}/server.log" >&2
    return 1
}

case "${action}" in
start)
    if [ ! -x /usr/sbin/mariadbd ]; then
        echo "no MariaDB: /usr/sbin/mariadbd is absent (apt-get install mariadb-server odbc-mariadb)"
        exit 77
    fi
    if [ -z "${home}" ] || [ ! -d "${home}" ]; then
        home=$(mktemp -d /var/tmp/vendrak-mdb.XXXXXXXXXX)
        printf '%s\n' "${home}" >"${dir}/server-home"
        python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' >"${dir}/port"
        mariadb-install-db --no-defaults --datadir="${home}/data" --user="${user}" \
            --lower-case-table-names=1 --skip-test-db >"${home}/install.log" 2>&1
        start_server
        { echo "CREATE DATABASE qvsystem; CREATE USER vendrak@'127.0.0.1' IDENTIFIED BY 'vendrak-secret';"
          echo "GRANT ALL ON qvsystem.* TO vendrak@'127.0.0.1';"
          cat "${here}/schema.sql"; } | client
    elif ! running; then
        start_server
    fi
    cat >"${dir}/odbcinst.ini" <<INI
[MariaDB]
Driver=$(ls /usr/lib/*/odbc/libmaodbc.so | head -n 1)
INI
    cat >"${dir}/odbc.ini" <<INI
[vendrak_test]
Driver=MariaDB
Server=127.0.0.1
Port=$(cat "${dir}/port")
Database=qvsystem
INI
    ;;
sql)
    client qvsystem -e "${3:?the statements}"
    ;;
stop)
    if [ -n "${home}" ] && running; then
        pid=$(cat "${home}/pid")
        kill "${pid}"
        while kill -0 "${pid}" 2>/dev/null; do sleep 0.1; done
    fi
    if [ -n "${home}" ]; then rm -rf "${home}"; fi
    rm -f "${dir}/server-home"
    ;;
esac
