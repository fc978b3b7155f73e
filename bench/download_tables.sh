# shellcheck shell=bash
# The four download tables as the benchmark scripts compare them: sourced by
# bench/run.sh and bench/atomic.sh, which provide sql() and ${work} and read
# ${tables}, ${table_list} and ${different}.
# shellcheck disable=SC2034,SC2154

tables=(trmaswdnl salaswdnl salaswdnl2 aswbkldnl)
table_list=$(printf 'qvsystem.%s, ' "${tables[@]}")
table_list=${table_list%, }

# One checksum over the contents of the four download tables.
contents() {
    local t parts=()
    for t in "${tables[@]}"; do
        parts+=("SELECT '${t} ' || x::text AS r FROM qvsystem.${t} x")
    done
    local union
    union=$(printf '%s UNION ALL ' "${parts[@]}")
    sql -At -c "SELECT count(*) || ' rows, md5 ' || md5(string_agg(r, E'\n' ORDER BY r))
                FROM (${union% UNION ALL }) u"
}

# Records that the run NAME left the tables as the reference run did; any
# difference sets ${different} to 1.
different=0
check_contents() {
    local name=$1 reference=$2 got
    got=$(contents)
    if [ "${got}" = "${reference}" ]; then
        echo "${name}: same table contents (${got})" | tee -a "${work}/checks.txt"
    else
        echo "${name}: DIFFERENT table contents: ${got}, expected ${reference}" |
            tee -a "${work}/checks.txt"
        different=1
    fi
}
