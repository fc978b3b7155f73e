#!/usr/bin/env bash
# Builds the Debian package the Debian way, `dpkg-buildpackage -us -uc -b`
# (debian/), on a copy of this checkout in build-package/, so that the
# results land there and not beside the checkout: the .deb, the -dbgsym
# package, the .buildinfo and the .changes. Prints the path of the .deb as
# its last line. Needs no root; the build dependencies must be installed
# (`apt-get build-dep .` installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
out="build-package"

version=$(dpkg-parsechangelog -S Version)
source="${out}/vendrak-${version%-*}"
rm -rf "${out}"
mkdir -p "${source}"
# The files of the checkout as they are (committed or not), without what
# .gitignore leaves out (builds, the demo's and the benchmark's files).
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
        if [ -e "${file}" ]; then printf '%s\0' "${file}"; fi
    done |
    tar -cf - --null -T - | tar -xf - -C "${source}"

(cd "${source}" && dpkg-buildpackage -us -uc -b -j2) >"${out}/build.log" 2>&1 || {
    tail -n 40 "${out}/build.log" >&2
    echo "build-package.sh: dpkg-buildpackage failed (${out}/build.log)" >&2
    exit 1
}
echo "${out}/vendrak_${version}_$(dpkg --print-architecture).deb"
