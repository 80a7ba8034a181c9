#!/bin/sh
# Runs the real-port cases (cases.sh) in a QEMU machine on Debian's own kernel and its
# parport, parport_pc and ppdev modules, against the emulated ISA port at 0x378. The
# host's root is shared read-only; the guest copies this build's programs where its
# ordinary users may reach them.
# Usage: rig.sh BUILD_DIR. Exit 77 (skipped) when a tool is missing, unless
# VARN_KERNEL_RIG=required (CI), where that is a failure.
set -eu
export PATH="$PATH:/usr/sbin:/sbin"
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$build/kernel-rig
skip() {
  echo "kernel rig SKIPPED: $*"
  [ "${VARN_KERNEL_RIG:-}" = required ] && exit 1
  echo "kernel_ports skipped: $*" >>"$build/skipped-tests.txt"  # ctest shows it after its summary
  exit 77
}
for tool in qemu-system-x86_64 busybox modprobe depmod cpio dpkg-deb apt-get; do
  command -v $tool >/dev/null || skip "no $tool (apt-get install qemu-system-x86 busybox-static kmod cpio)"
done
# The guest gives programs capabilities with the host's tools, from where it finds them.
[ -x /usr/sbin/setcap ] && [ -x /usr/sbin/capsh ] || skip "no /usr/sbin/setcap or capsh (apt-get install libcap2-bin)"
case $build in *[[:space:]]*) echo "kernel rig: the build folder's path must have no blanks"; exit 1 ;; esac
busybox=$(command -v busybox)
ldd "$busybox" >/dev/null 2>&1 && skip "$busybox is not the static build (apt-get install busybox-static)"

# The kernel package the metapackage names, downloaded once per build folder and
# unpacked, never installed.
mkdir -p "$work/deb"
deb=$(ls "$work"/deb/linux-image-*.deb 2>/dev/null | head -n1)
if [ -z "$deb" ]; then
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n1)
  [ -n "$pkg" ] || skip "apt knows no linux-image-amd64 (apt-get update)"
  (cd "$work/deb" && apt-get download "$pkg" >/dev/null 2>&1) || skip "apt-get download $pkg failed"
  deb=$(ls "$work"/deb/linux-image-*.deb | head -n1)
fi
if [ ! -d "$work/kernel/lib/modules" ]; then
  rm -rf "$work/kernel"
  dpkg-deb -x "$deb" "$work/kernel"
fi
kver=$(ls "$work/kernel/lib/modules" | head -n1)
[ -f "$work/kernel/lib/modules/$kver/modules.dep" ] || depmod -b "$work/kernel" "$kver"

# The initramfs: busybox, the modules in load order, the cases as /init.
stage=$work/initrd
rm -rf "$stage"
mkdir -p "$stage/bin" "$stage/m"
cp "$busybox" "$stage/bin/busybox"
ln -s busybox "$stage/bin/sh"
n=10
for ko in $(modprobe -d "$work/kernel" -S "$kver" --show-depends -a 9pnet_virtio 9p virtio_pci parport_pc ppdev |
            awk '$1 == "insmod" && !seen[$2]++ { print $2 }'); do
  n=$((n + 1))
  case $ko in *.xz) xz -dc "$ko" ;; *) cat "$ko" ;; esac >"$stage/m/$n-$(basename "${ko%.xz}")"
done
cp "$here/cases.sh" "$stage/init" && chmod 755 "$stage/init"
(cd "$stage" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initrd.gz"

# One boot runs every case; the guest powers off at the end.
start=$(date +%s)
timeout 240 qemu-system-x86_64 -accel tcg -m 512 -nodefaults -display none -no-reboot \
  -serial stdio -chardev null,id=lpt -device isa-parallel,chardev=lpt,iobase=0x378,irq=7 \
  -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=root,mount_tag=hostroot \
  -kernel "$work/kernel/boot/vmlinuz-$kver" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 quiet VARN_BUILD=$build" </dev/null | tr -d '\r' >"$work/console.log" || true
grep '^rig: ' "$work/console.log" || true
echo "kernel rig: $kver, $(($(date +%s) - start)) s"
if ! grep -q '^rig: [0-9]* passed, 0 failed$' "$work/console.log"; then
  echo "--- guest console ($work/console.log)"
  cat "$work/console.log"
  exit 1
fi
