#!/bin/bash
# Builds the Debian 12 disk image the system test boots, unless the cached one was built
# from the same package list and this same script:
#   build_image.sh IMAGE_FOLDER PACKAGE...
# The mirror is the one this machine's apt already reaches, read from its sources at
# run time. The image holds systemd, the bus, the tools the tests use and the runtime
# dependencies of the packages under test, but not those packages: installing them on
# the booted system is what is tested. Its test runner unit waits for a second disk
# that carries the packages and the tests (see run_system_test.sh).
set -euo pipefail

folder=$1
shift
packages=("$@")
here=$(cd "$(dirname "$0")" && pwd)
key=$( (printf '%s\n' "${packages[@]}" | sort -u; cat "$0") | sha256sum | cut -c1-16)

if [ -f "$folder/image.key" ] && [ "$(cat "$folder/image.key")" = "$key" ] &&
   [ -f "$folder/root.img" ] && [ -f "$folder/vmlinuz" ] && [ -f "$folder/initrd.img" ]; then
    echo "system-test: image in $folder is current"
    exit 0
fi

sources=""
for candidate in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list; do
    if [ -s "$candidate" ] && grep -q '^[^#]*bookworm' "$candidate"; then
        sources=$candidate
        break
    fi
done
if [ -z "$sources" ]; then
    echo "system-test: no bookworm source in this machine's apt configuration" >&2
    exit 1
fi

rm -rf "$folder"
mkdir -p "$folder"
root="$folder/root"
started=$(date +%s)
echo "system-test: building the image in $folder from $sources (a few minutes)"
include=$(printf '%s,' systemd-sysv linux-image-amd64 udev dbus curl python3 \
          python3-prometheus-client "${packages[@]}")
# The kernel's initramfs holds only what a qemu guest needs to find its root (virtio and
# ext4): building the default one, with most modules, takes minutes on a busy machine.
initramfs_hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
    echo MODULES=list > "$1/etc/initramfs-tools/conf.d/vstest" &&
    printf "virtio_pci\nvirtio_blk\next4\n" > "$1/usr/share/initramfs-tools/modules.d/vstest"'
timeout 3600 mmdebstrap --quiet --variant=minbase --include="${include%,}" \
    --aptopt='Acquire::Check-Valid-Until "false"' \
    --essential-hook="$initramfs_hook" \
    --customize-hook='chroot "$1" passwd -d root' \
    --customize-hook='echo vstest > "$1/etc/hostname"' \
    --customize-hook='printf "127.0.0.1 localhost vstest\n" > "$1/etc/hosts"' \
    --customize-hook="install -m 0644 '$here/vstest.service' \"\$1/etc/systemd/system/\"" \
    --customize-hook='chroot "$1" systemctl enable vstest.service' \
    --customize-hook='chroot "$1" apt-get clean' \
    bookworm "$root" "$sources"

cp "$root"/boot/vmlinuz-* "$folder/vmlinuz"
cp "$root"/boot/initrd.img-* "$folder/initrd.img"
truncate -s 3G "$folder/root.img"
mkfs.ext4 -q -d "$root" "$folder/root.img"
rm -rf "$root"
echo "$key" > "$folder/image.key"
echo "system-test: image built in $(( $(date +%s) - started )) s"
