#!/usr/bin/env bash
# Installs the Debian packages that building, testing, fuzzing, packaging and the demo need,
# when one of them is missing. Needs root for that (CI and fresh machines
# run as root); otherwise it only says what is missing.
set -euo pipefail

# The fuzz targets need clang, libclang-rt-14-dev (libFuzzer and clang's
# sanitizer runtimes; clang only recommends it) and llvm (llvm-symbolizer, so
# that sanitizer reports name source lines).
# The Mssql tests and `demo.sh --db mssql` unpack Babelfish (zstd) and reach it
# through FreeTDS (tdsodbc; tsql of freetds-bin loads the schema); the Mysql
# test runs a private MariaDB through Connector/ODBC.
packages=(cmake make g++ python3 libgtest-dev libgmock-dev googletest dpkg-dev file
          unixodbc unixodbc-dev odbc-postgresql postgresql postgresql-contrib libpq-dev
          clang libclang-rt-14-dev llvm
          zstd freetds-bin tdsodbc mariadb-server odbc-mariadb)

# Further packages a caller needs come as arguments: the benchmark's tools, and
# debhelper and lintian for scripts/package-test.sh (not needed to build or test).
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    dpkg -s "${package}" >/dev/null 2>&1 || missing+=("${package}")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
