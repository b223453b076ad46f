#!/bin/bash
# The packages proved on a booted Debian 12 system ("make system-test"):
#   run_system_test.sh BUILD_FOLDER
# takes the packages "make deb" left in BUILD_FOLDER and the previous version's from
# BUILD_FOLDER/system-test/previous (built from this tree with a lower version number
# when missing), builds or reuses the cached disk image, boots it under qemu with a
# second disk that carries the packages and debian/tests, and reads the results from
# the second serial port. The root disk is used read-only (-snapshot), so the cached
# image stays as built. Exit status 0 only when every test passed or skipped.
#
# SYSTEM_TEST_ACCEL=kvm tries KVM (default tcg: on these machines a KVM guest hangs
# after the boot loader); SYSTEM_TEST_LIMIT bounds the whole boot and run in seconds.
set -euo pipefail

build=$(cd "$1" && pwd)
source_tree=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/system-test
accel=${SYSTEM_TEST_ACCEL:-tcg}
limit=${SYSTEM_TEST_LIMIT:-1800}
started=$(date +%s)

debs=("$build"/vantorsync-server_*.deb "$build"/vantorsync-console_*.deb)
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || { echo "system-test: no packages in $build (make deb)" >&2; exit 1; }
done

if ! ls "$work"/previous/vantorsync-server_*.deb >/dev/null 2>&1; then
    "$source_tree/tests/system/build_previous.sh" "$source_tree" "$build" "$work/previous"
fi

# The image holds the packages' dependencies, so that "apt install" on the test system
# needs no network.
dependencies=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; echo ,; done |
    tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/:any//; s/[[:space:]]//g' |
    grep -v -e '^$' -e '^vantorsync' | sort -u)
# shellcheck disable=SC2086
"$source_tree/tests/system/build_image.sh" "$work/image" $dependencies

qemu_pid=""
cleanup() {
    if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
        kill "$qemu_pid" 2>/dev/null || true
        sleep 2
        kill -9 "$qemu_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

# promtool checks the metrics scrape inside the test system. It is taken from Debian's
# prometheus package, unpacked here rather than installed, so that no Prometheus server is
# set up on this machine or in the image.
tools=$work/tools
if [ ! -x "$tools/usr/bin/promtool" ]; then
    rm -rf "$tools" && mkdir -p "$tools/download"
    (cd "$tools/download" && { apt-get download -q prometheus >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get download -q prometheus; }; })
    dpkg-deb -x "$tools"/download/prometheus_*.deb "$tools"
fi

# The second disk: packages, previous packages, the tests, their runner and tools.
payload=$work/payload
rm -rf "$payload" "$work/payload.img"
mkdir -p "$payload/debs" "$payload/previous" "$payload/tests" "$payload/bin"
cp "$tools/usr/bin/promtool" "$payload/bin/"
cp "${debs[@]}" "$payload/debs/"
cp "$work"/previous/*.deb "$payload/previous/"
cp -r "$source_tree"/debian/tests/. "$payload/tests/"
cp "$source_tree/tests/system/guest_run.sh" "$payload/"
truncate -s 512M "$work/payload.img"
mkfs.ext4 -q -d "$payload" "$work/payload.img"

console=$work/console.log
results=$work/results.log
rm -f "$console" "$results"
echo "system-test: booting Debian 12 under qemu ($accel), results in $results"
boot_started=$(date +%s)
qemu-system-x86_64 -accel "$accel" -m 1536 -smp 1 -nographic -no-reboot \
    -kernel "$work/image/vmlinuz" -initrd "$work/image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 vstest systemd.show_status=false" \
    -drive "file=$work/image/root.img,format=raw,if=virtio" -snapshot \
    -drive "file=$work/payload.img,format=raw,if=virtio" \
    -nic none -monitor none -serial "file:$console" -serial "file:$results" \
    > "$work/qemu.log" 2>&1 < /dev/null &
qemu_pid=$!

shown=0
while kill -0 "$qemu_pid" 2>/dev/null; do
    if [ $(($(date +%s) - boot_started)) -gt "$limit" ]; then
        echo "system-test: no end within $limit s; the last console lines:" >&2
        tail -n 30 "$console" >&2 || true
        break
    fi
    sleep 5
    if [ -f "$results" ]; then
        lines=$(wc -l < "$results")
        if [ "$lines" -gt "$shown" ]; then
            sed -n "$((shown + 1)),${lines}p" "$results"
            shown=$lines
        fi
    fi
done
cleanup
qemu_pid=""
[ -f "$results" ] && [ "$(wc -l < "$results")" -gt "$shown" ] && sed -n "$((shown + 1)),\$p" "$results"

echo "system-test: boot and tests took $(($(date +%s) - boot_started)) s," \
    "the whole run $(($(date +%s) - started)) s"
if ! grep -q '^vstest-end' "$results" 2>/dev/null; then
    echo "system-test: FAILED, the tests did not finish; console in $console" >&2
    tail -n 30 "$console" >&2 || true
    exit 1
fi
passed=$(grep -c '^vstest-result .* PASS' "$results" || true)
failed=$(grep -c '^vstest-result .* FAIL' "$results" || true)
skipped=$(grep -c '^vstest-result .* SKIP' "$results" || true)
grep '^vstest-result' "$results"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
