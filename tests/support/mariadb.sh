#!/usr/bin/env bash
# The private MariaDB of the Mysql tests on a free port of 127.0.0.1: the
# tables of schema.sql in database qvsystem, DSN vendrak_test in DIR/odbc.ini
# (Connector/ODBC). Its files live in the /var/tmp folder that
# DIR/server-home names; stop ends it by its PID and removes them.
#   mariadb.sh start|stop DIR    mariadb.sh sql DIR STATEMENTS
# start exits 77 when mariadbd is not installed.
set -euo pipefail
action=$1 dir=$(mkdir -p "$2" && cd "$2" && pwd)
home=$(cat "${dir}/server-home" 2>/dev/null || true)
client() { mariadb --no-defaults -S "${home}/socket" -u root "$@"; }
case "${action}" in
start)
    [ -x /usr/sbin/mariadbd ] || { echo "no MariaDB: apt-get install mariadb-server odbc-mariadb"; exit 77; }
    [ -z "${home}" ] || exit 0
    home=$(mktemp -d /var/tmp/vendrak-mdb.XXXXXXXXXX)
    echo "${home}" >"${dir}/server-home"
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    # The statements name their tables in mixed case.
    options=(--no-defaults --datadir="${home}/data" --user="$(id -un)" --lower-case-table-names=1)
    mariadb-install-db "${options[@]}" --skip-test-db >"${home}/install.log" 2>&1
    /usr/sbin/mariadbd "${options[@]}" --socket="${home}/socket" --pid-file="${home}/pid" \
        --port="${port}" --bind-address=127.0.0.1 >"${home}/server.log" 2>&1 &
    for _ in $(seq 100); do client -e '' 2>/dev/null && break; sleep 0.1; done
    { echo "CREATE DATABASE qvsystem; CREATE USER vendrak@'127.0.0.1' IDENTIFIED BY 'vendrak-secret';"
      echo "GRANT ALL ON qvsystem.* TO vendrak@'127.0.0.1';"; cat "$(dirname "$0")/schema.sql"; } | client
    printf '[MariaDB]\nDriver=%s\n' "$(ls /usr/lib/*/odbc/libmaodbc.so | head -n 1)" >"${dir}/odbcinst.ini"
    printf '[vendrak_test]\nDriver=MariaDB\nServer=127.0.0.1\nPort=%s\nDatabase=qvsystem\n' "${port}" \
        >"${dir}/odbc.ini"
    ;;
sql) client qvsystem -e "$3" ;;
stop)
    pid=$(cat "${home}/pid" 2>/dev/null || true)
    if [ -n "${pid}" ]; then kill "${pid}"; while kill -0 "${pid}" 2>/dev/null; do sleep 0.1; done; fi
    if [ -n "${home}" ]; then rm -rf "${home}" "${dir}/server-home"; fi
    ;;
esac
