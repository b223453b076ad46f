#!/bin/bash
# The "previous version" an upgrade starts from: the packages built from this tree with
# the version lowered (1.0.0 becomes 1.0.0~previous), into the given folder.
#   build_previous.sh SOURCE_TREE BUILD_FOLDER OUTPUT_FOLDER
# It builds in BUILD_FOLDER/deb, the scratch folder of "make deb", so that the compiler
# cache, keyed by the same paths, serves the unchanged sources.
set -euo pipefail

tree=$1
work=$2/deb
out=$3
rm -rf "$work" "$out"
mkdir -p "$work/src" "$out"
tar -C "$tree" -cf - --exclude-vcs --exclude=./build --exclude='./build-*' \
    --exclude=./fuzz/out --exclude=__pycache__ . | tar -xf - -C "$work/src"
version=$(dpkg-parsechangelog -l "$tree/debian/changelog" -S Version)
cd "$work/src"
{
    echo "vantorsync (${version}~previous) unstable; urgency=medium"
    echo
    echo "  * The tree built with a lower version, to test upgrades from."
    echo
    echo " -- $(dpkg-parsechangelog -S Maintainer)  $(dpkg-parsechangelog -S Date)"
    echo
    cat debian/changelog
} > debian/changelog.new
# The previous version's own entry is the newest one it knows.
sed -n '1,/^ -- /p' debian/changelog.new > debian/changelog
echo "system-test: building the previous version ${version}~previous"
DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" timeout 3600 \
    dpkg-buildpackage -b -uc -us > "$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log" >&2; exit 1; }
mv "$work"/vantorsync-server_*.deb "$work"/vantorsync-console_*.deb "$out/"
rm -rf "$work"
