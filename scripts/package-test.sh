#!/usr/bin/env bash
# Builds the Debian package with CPack in build-package/, installs it with
# dpkg -i, checks the installed files and the installed `vendrak --version`,
# and removes the package again. Needs root and a machine on which vendrak is
# not installed otherwise (CI machines are thrown away after the run).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "package-test.sh: $*" >&2
    exit 1
}

[ "$(id -u)" = 0 ] || fail "needs root: it installs and removes the package"
if dpkg -s vendrak >/dev/null 2>&1; then
    fail "a vendrak package is installed already; this test leaves it alone"
fi
scripts/install-deps.sh

build=build-package
cmake -S . -B "${build}" -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF >/dev/null
cmake --build "${build}" -j2 >/dev/null
rm -f "${build}"/vendrak_*.deb
(cd "${build}" && cpack -G DEB >/dev/null)
deb=$(ls "${build}"/vendrak_*.deb)
version=$(dpkg-deb --field "${deb}" Version)
depends=$(dpkg-deb --field "${deb}" Depends)
echo "package: ${deb}"
echo "depends: ${depends}"
[[ "${depends}" =~ libodbc[12] ]] || fail "the package does not depend on the unixODBC library"

trap 'dpkg -r vendrak >/dev/null 2>&1 || true' EXIT
dpkg -i "${deb}" >/dev/null
for file in /usr/bin/vendrak /usr/bin/vendrak-settings /lib/systemd/system/vendrak.service \
    /lib/systemd/system/vendrak.timer /usr/share/doc/vendrak/operating-guide.md; do
    [ -f "${file}" ] || fail "${file} is not installed"
done
[ ! -e /etc/systemd/system/timers.target.wants/vendrak.timer ] || fail "the timer got enabled"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify /lib/systemd/system/vendrak.service /lib/systemd/system/vendrak.timer
fi

reported=$(cd / && /usr/bin/vendrak --version)
[ "${reported}" = "vendrak ${version}" ] ||
    fail "installed vendrak --version printed '${reported}', expected 'vendrak ${version}'"
echo "installed: ${reported}"

dpkg -r vendrak >/dev/null
trap - EXIT
[ ! -e /usr/bin/vendrak ] || fail "/usr/bin/vendrak is still there after dpkg -r"
echo "package test passed"
