#!/usr/bin/env bash
# Builds the Debian package build-package/vendrak_<version>_<arch>.deb: a
# Release build with Debian's hardening flags, staged with `cmake --install`
# and completed with what a Debian package carries besides (stripped
# binaries, gzipped man pages, copyright, changelog, maintainer scripts,
# md5sums, control file), then packed with dpkg-deb. Prints the path of the
# package as its last line. Needs no root.
#
# The version is the top entry of packaging/changelog; its upstream part
# must be the version in project() of CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build="build-package"
stage="${build}/stage"

fail() {
    echo "build-package.sh: $*" >&2
    exit 1
}

version=$(dpkg-parsechangelog -l packaging/changelog -S Version)
project_version=$(sed -n 's/^project(vendrak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "${version%-*}" = "${project_version}" ] ||
    fail "packaging/changelog is at ${version}, CMakeLists.txt at ${project_version}: add a changelog entry"
arch=$(dpkg --print-architecture)

# Debian's build flags with every hardening feature (bind now, PIE, fortify,
# stack protector).
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S . -B "${build}" -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "${build}" -j2 >/dev/null

rm -rf "${stage}"
DESTDIR="${top}/${stage}" cmake --install "${build}" >/dev/null
doc="${stage}/usr/share/doc/vendrak"
man="${stage}/usr/share/man/man1"
install -d "${stage}/DEBIAN"
for binary in vendrak vendrak-settings; do
    strip --remove-section=.comment --remove-section=.note --strip-unneeded \
        "${stage}/usr/bin/${binary}"
    gzip -9nf "${man}/${binary}.1"
done
install -m 0644 packaging/copyright "${doc}/copyright"
gzip -9n <packaging/changelog >"${doc}/changelog.Debian.gz"

# Modes as dpkg expects them, whatever the umask of the build.
find "${stage}" -type d -exec chmod 0755 {} +
find "${stage}" -type f -exec chmod 0644 {} +
chmod 0755 "${stage}"/usr/bin/*
for script in postinst prerm postrm; do
    install -m 0755 "packaging/${script}" "${stage}/DEBIAN/${script}"
done

# The run-time libraries (libodbc2 among them) as dpkg-shlibdeps finds them;
# it wants a debian/control to read, which a scratch folder provides.
scratch=$(mktemp -d)
trap 'rm -rf "${scratch}"' EXIT
mkdir "${scratch}/debian"
printf 'Source: vendrak\n\nPackage: vendrak\nArchitecture: any\n' >"${scratch}/debian/control"
shlibs=$(cd "${scratch}" && dpkg-shlibdeps -O "${top}/${stage}/usr/bin/vendrak" \
    "${top}/${stage}/usr/bin/vendrak-settings" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "${shlibs}" ] || fail "dpkg-shlibdeps found no run-time libraries"

installed_size=$(du -sk --exclude=DEBIAN "${stage}" | cut -f1)
cat >"${stage}/DEBIAN/control" <<CONTROL
Package: vendrak
Version: ${version}
Architecture: ${arch}
Maintainer: Vendrak maintainers <vendrak@example.org>
Installed-Size: ${installed_size}
Depends: ${shlibs}, adduser
Suggests: unixodbc, odbc-postgresql
Section: misc
Priority: optional
Description: download preparation for time-and-attendance terminals
 vendrak rebuilds the download tables that the terminals of a
 time-and-attendance and access-control system are loaded from (terminal
 and access authorisations, balance displays) over ODBC. vendrak-settings
 writes its enciphered settings file.
 .
 The package creates the system user vendrak and the installation layout
 under /opt/quorvance where they are missing. The systemd service and
 timer are installed but not enabled; see the operating guide in
 /usr/share/doc/vendrak.
CONTROL
(cd "${stage}" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum) >"${scratch}/md5sums"
install -m 0644 "${scratch}/md5sums" "${stage}/DEBIAN/md5sums"

deb="${build}/vendrak_${version}_${arch}.deb"
rm -f "${build}"/vendrak_*.deb
dpkg-deb --root-owner-group -Zxz --build "${stage}" "${deb}" >/dev/null
echo "${deb}"
