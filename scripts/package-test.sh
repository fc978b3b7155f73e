#!/usr/bin/env bash
# Builds the Debian package with `dpkg-buildpackage -us -uc -b`
# (scripts/build-package.sh, which builds a copy of the checkout in
# build-package/) and checks it as a packager and an operator meet it:
#   - the build dependencies are those that debian/control declares (missing
#     ones are installed with `apt-get build-dep`);
#   - lintian reports no error and no warning on the .changes, and so on
#     every package that it lists;
#   - `systemd-analyze security --offline=true` rates the service at 2.0 or
#     better, and `systemd-analyze verify` passes on the installed units;
#   - dpkg -i installs the files, creates the system user vendrak and the
#     layout under /opt/quorvance with their modes and owners, and the
#     installed `vendrak --version` runs as that user in the working folder;
#   - the installed `vendrak --check` names a missing data source and
#     changes nothing;
#   - installing again (an upgrade) leaves a site's settings file, its run
#     log, the modes of its folders and its enabled timer alone;
#   - dpkg -r and dpkg --purge remove the programs but leave that settings
#     file and run log in place; the purge removes the timer's link, and
#     without the site's files it leaves no empty folder;
#   - beside a user vendrak made before the package without a group vendrak,
#     install, upgrade and reinstall succeed and the group is made.
# Needs root and a machine on which neither vendrak nor /opt/quorvance
# exists (CI machines are thrown away after the run). It leaves the machine
# as it found it.
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
[ ! -e /opt/quorvance ] || fail "/opt/quorvance exists already; this test leaves it alone"
user_existed=0
if getent passwd vendrak >/dev/null; then user_existed=1; fi
group_existed=0
if getent group vendrak >/dev/null; then group_existed=1; fi
scripts/install-deps.sh debhelper lintian
if ! dpkg-checkbuilddeps 2>/dev/null; then
    apt-get build-dep -qq -y ./ >/dev/null
fi
dpkg-checkbuilddeps || fail "the build dependencies of debian/control are not installed"

deb=$(scripts/build-package.sh | tail -n 1)
changes="${deb%.deb}.changes"
version=$(dpkg-deb --field "${deb}" Version)
depends=$(dpkg-deb --field "${deb}" Depends)
echo "package: ${deb}"
echo "depends: ${depends}"
[[ "${depends}" =~ libodbc[12] ]] || fail "the package does not depend on the unixODBC library"
[[ "${depends}" =~ adduser ]] || fail "the package does not depend on adduser"

echo "lintian: ${changes}"
lintian --fail-on error,warning "${changes}" || fail "lintian reports errors or warnings"

# "→ Overall exposure level for vendrak.service: 1.3 OK 🙂"
exposure=$(systemd-analyze security --offline=true packaging/vendrak.service 2>/dev/null |
    sed -n 's/.*Overall exposure level for vendrak.service: \([0-9.]*\).*/\1/p')
[ -n "${exposure}" ] || fail "systemd-analyze security gave no exposure level"
echo "exposure of vendrak.service: ${exposure}"
awk -v e="${exposure}" 'BEGIN { exit !(e <= 2.0) }' ||
    fail "vendrak.service is rated ${exposure}, above 2.0"

root=/opt/quorvance
settings="${root}/files/quorvance.ini"
log="${root}/Quorvance_php/log/vendraklog.txt"
# Whatever happens, the package, the test's site and a user that the
# package made go again.
cleanup() {
    dpkg --purge vendrak >/dev/null 2>&1 || true
    rm -rf "${root}"
    if [ "${user_existed}" = 0 ] && getent passwd vendrak >/dev/null; then
        deluser --system --quiet vendrak >/dev/null 2>&1 || true
    fi
    if [ "${group_existed}" = 0 ] && getent group vendrak >/dev/null; then
        delgroup --system --quiet vendrak >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

dpkg -i "${deb}" >/dev/null
for file in /usr/bin/vendrak /usr/bin/vendrak-settings /lib/systemd/system/vendrak.service \
    /lib/systemd/system/vendrak.timer /usr/share/doc/vendrak/operating-guide.md \
    /usr/share/doc/vendrak/copyright /usr/share/doc/vendrak/changelog.Debian.gz \
    /usr/share/man/man1/vendrak.1.gz /usr/share/man/man1/vendrak-settings.1.gz; do
    [ -f "${file}" ] || fail "${file} is not installed"
done
[ ! -e /etc/systemd/system/timers.target.wants/vendrak.timer ] || fail "the timer got enabled"
systemd-analyze verify /lib/systemd/system/vendrak.service /lib/systemd/system/vendrak.timer ||
    fail "systemd-analyze verify found faults in the installed units"

# The user and the layout that postinst made.
entry=$(getent passwd vendrak) || fail "postinst did not create the user vendrak"
uid=$(echo "${entry}" | cut -d: -f3)
[ "${uid}" -lt 1000 ] || fail "vendrak is not a system user (uid ${uid})"
[ "$(id -gn vendrak)" = vendrak ] || fail "the primary group of vendrak is not vendrak"
expect_folder() {
    local got
    got=$(stat -c '%a %U %G' "$1" 2>/dev/null) || fail "postinst did not create $1"
    [ "${got}" = "$2" ] || fail "$1 is '${got}', expected '$2'"
}
expect_folder "${root}/app/bin" "755 root root"
expect_folder "${root}/files" "700 vendrak vendrak"
expect_folder "${root}/Quorvance_php/log" "750 vendrak vendrak"

reported=$(cd "${root}/app/bin" && runuser -u vendrak -- /usr/bin/vendrak --version)
[ "${reported}" = "vendrak ${version%-*}" ] ||
    fail "installed vendrak --version printed '${reported}', expected 'vendrak ${version%-*}'"
echo "installed: ${reported}"

# A site's settings file and run log, and a folder mode of its own.
printf 'secret\n' | vendrak-settings write "${settings}" --login qvuser --password-stdin \
    --db-system ORACLE --database QVPROD
chown vendrak:vendrak "${settings}"
printf '2026-01-01 02:30:00 **********\n' >"${log}"
chown vendrak:vendrak "${log}"
chmod 0770 "${root}/Quorvance_php/log"
# The site enables the timer (systemctl makes the link also without a
# running systemd).
timer_link=/etc/systemd/system/timers.target.wants/vendrak.timer
systemctl enable vendrak.timer 2>/dev/null
[ -L "${timer_link}" ] || fail "systemctl enable made no link for the timer"
site_state() {
    md5sum "${settings}" "${log}"
    stat -c '%n %a %U %G' "${settings}" "${log}" "${root}/files" "${root}/Quorvance_php/log"
}
before=$(site_state)

# The installed `vendrak --check` as the operator runs it last when
# installing: this site's data source does not exist, so it fails, names the
# cause and changes nothing.
check_rc=0
check=$(cd "${root}/app/bin" && runuser -u vendrak -- /usr/bin/vendrak --check) || check_rc=$?
echo "${check}" | tail -n 1
[ "${check_rc}" = 99 ] || fail "vendrak --check exited ${check_rc} without a data source, not 99"
for expected in "ok       settings file ${settings} is readable" \
    "ok       log folder ${root}/Quorvance_php/log exists and is writable" \
    "FAILED   connect to data source QVPROD as qvuser failed: SQLSTATE IM002"; do
    grep -qF -- "${expected}" <<<"${check}" || fail "vendrak --check did not say: ${expected}"
done
[ "$(site_state)" = "${before}" ] || fail "vendrak --check changed the site's files"

dpkg -i "${deb}" >/dev/null
[ "$(site_state)" = "${before}" ] || fail "installing again changed the site's files or folders"
[ -L "${timer_link}" ] || fail "installing again disabled the timer"
dpkg -r vendrak >/dev/null
[ ! -e /usr/bin/vendrak ] || fail "/usr/bin/vendrak is still there after dpkg -r"
[ "$(site_state)" = "${before}" ] || fail "dpkg -r changed the site's settings file or run log"
dpkg --purge vendrak >/dev/null
[ "$(site_state)" = "${before}" ] || fail "dpkg --purge changed the site's settings file or run log"
[ ! -L "${timer_link}" ] || fail "the purge left the link of the enabled timer"
[ ! -e /usr/share/doc/vendrak ] || fail "/usr/share/doc/vendrak is still there after the purge"

# Without a site's files, a purge leaves no empty folder of the layout.
rm "${settings}" "${log}"
dpkg -i "${deb}" >/dev/null
dpkg --purge vendrak >/dev/null
[ ! -e "${root}" ] || fail "the purge left the empty layout: $(find "${root}" | tr '\n' ' ')"

# A user vendrak that the site made before the package, as `adduser --system
# vendrak` makes one: in nogroup, without a group vendrak. Installing,
# upgrading and reinstalling succeed; the package adds the group that the
# service and the layout name and leaves the user as it is. Only where this
# test made the user and the group above; the cleanup removes both.
if [ "${user_existed}" = 0 ] && [ "${group_existed}" = 0 ]; then
    deluser --system --quiet vendrak >/dev/null 2>&1 || fail "cannot remove the user vendrak"
    if getent group vendrak >/dev/null; then delgroup --system --quiet vendrak >/dev/null; fi
    adduser --system --quiet --no-create-home vendrak
    premade=$(getent passwd vendrak)
    [ "$(id -gn vendrak)" = nogroup ] || fail "adduser --system put vendrak in $(id -gn vendrak)"
    dpkg -i "${deb}" >/dev/null || fail "installing beside a user vendrak without its group failed"
    getent group vendrak >/dev/null || fail "postinst did not create the missing group vendrak"
    [ "$(getent passwd vendrak)" = "${premade}" ] || fail "postinst changed the existing user"
    expect_folder "${root}/files" "700 vendrak vendrak"
    expect_folder "${root}/Quorvance_php/log" "750 vendrak vendrak"
    dpkg -i "${deb}" >/dev/null || fail "upgrading beside a pre-made user vendrak failed"
    dpkg -r vendrak >/dev/null
    dpkg -i "${deb}" >/dev/null || fail "reinstalling beside a pre-made user vendrak failed"
    [ "$(getent passwd vendrak)" = "${premade}" ] || fail "installing again changed the user"
    reported=$(cd "${root}/app/bin" && runuser -u vendrak -g vendrak -- /usr/bin/vendrak --version)
    [ "${reported}" = "vendrak ${version%-*}" ] || fail "vendrak --version as vendrak:vendrak failed"
    dpkg --purge vendrak >/dev/null
    echo "pre-made user vendrak: install, upgrade and reinstall passed"
fi
echo "package test passed"
