#!/usr/bin/env bash
# Runs the x86 build's programs where this machine cannot execute 32-bit programs: inside a small
# Debian 12 amd64 virtual machine (qemu-system-x86_64 with software emulation) whose own kernel has
# IA-32 emulation, with 32- and 64-bit Wine, Xvfb and
# CTest inside.
#
#   scripts/win32-vm.sh suite [CTEST ARGS...]      the win32 build's CTest suite in the guest
#   scripts/win32-vm.sh test PROGRAM [ARGS...]     one test program of build/win32/tests in the
#                                                  guest, e.g. test cm_objects_filesystem_test
#                                                  --gtest_filter='*Link*'
#   scripts/win32-vm.sh run COMMAND [ARGS...]      any command in the guest (as root, in the tree)
#   scripts/win32-vm.sh image                      only make the image (also made on first use)
#
# The guest sees the repository read-only and works on a copy of it on its own disk, at the same
# absolute path (the build tree names its sources and itself by absolute paths): the source, the
# win32 build without its objects and private Wine prefix, and the host build's programs (the
# cross-platform tests run the Linux packer). Nothing the guest writes reaches the host's tree;
# the command's output comes back, and for `suite` CTest's log as build/test-logs/win32-LastTest.log.
# The exit code is the command's; 124 when the guest ran past its time bound, 125 when it ended
# without one.
#
# The image (build/x86vm/image: root.img with its kernel) is made once from Debian's packages, from the
# archive the machine's own apt sources name (read at run time), and made again when its recipe
# changes; a failed build leaves none behind. Every run starts from the same image (qemu
# -snapshot), so a run cannot spoil it and runs may overlap.
#
# Environment: X86VM_DIR (build/x86vm), X86VM_MEM (4G), X86VM_SMP (2), X86VM_TIMEOUT (seconds;
# 3600), X86VM_ACCEL (tcg, or kvm where it works).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"

dir=${X86VM_DIR:-$root/build/x86vm}
mem=${X86VM_MEM:-4G}
smp=${X86VM_SMP:-2}
limit=${X86VM_TIMEOUT:-3600}
suite=bookworm

# Emulation makes every program slower, and programs that start many processes much slower (about
# 3 and up to 13 times native x64 time): every CTest time-out of the guest's run is multiplied by
# this one factor (cmake/Testing.cmake reads it).
TIMEOUT_SCALE=6

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }
log() { echo "win32-vm: $*" >&2; }
die() { log "$*"; exit 1; }

# ---- The image's recipe. Everything from here to the end of make_image is hashed: a change to
# it makes the image again. ----

GUEST_PACKAGES=(
  linux-image-amd64 initramfs-tools kmod udev util-linux procps iproute2 ca-certificates
  wine wine32:i386 wine64 libwine libwine:i386 fonts-wine
  xvfb xauth x11-utils cmake file xxd bc python3-minimal osslsigncode xz-utils
  libasan8 libubsan1 libssl3
  libgnutls30 libgnutls30:i386 libxrender1 libxrender1:i386 libxrandr2 libxrandr2:i386
  libxi6 libxi6:i386 libxcursor1 libxcursor1:i386 libxfixes3 libxfixes3:i386
  libxinerama1 libxinerama1:i386 libxcomposite1 libxcomposite1:i386 libgl1 libgl1:i386
)

# The guest's process 1: mounts, runs /vmctl/cmd.sh, leaves its exit code and output in /vmctl,
# powers off.
write_vminit() {
  cat > "$1" <<'EOF'
#!/bin/sh
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin; export PATH
mount -t proc proc /proc; mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev; mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp; mount -t tmpfs tmpfs /run
hostname x86vm; ip link set lo up 2>/dev/null
modprobe -a 9pnet_virtio 9p
# cache=loose: without it, reads of large mapped files come back with zeroed pages.
o=trans=virtio,version=9p2000.L,msize=1048576,access=any,cache=loose
mkdir -p /vmctl; mount -t 9p -o $o vmctl /vmctl
mkdir -p /mnt/src; mount -t 9p -o $o,ro src /mnt/src 2>/dev/null
echo "vminit: command starts at uptime $(cut -d' ' -f1 /proc/uptime)s" > /dev/console
export HOME=/root WINEDEBUG=-all
( cd /vmctl && bash /vmctl/cmd.sh ) > /vmctl/out.log 2>&1 </dev/null
echo $? > /vmctl/rc.tmp; mv /vmctl/rc.tmp /vmctl/rc
echo "vminit: command ended at uptime $(cut -d' ' -f1 /proc/uptime)s, exit $(cat /vmctl/rc)" > /dev/console
# Leftovers (a wineserver, Xvfb) would keep the shares busy.
sync; kill -KILL -1 2>/dev/null; sleep 1
sync; umount -a -t 9p; mount -o remount,ro / 2>/dev/null; sync
echo o > /proc/sysrq-trigger; sleep 30
EOF
  chmod 755 "$1"
}

# The guest's Wine prefix, made at the image's first boot by the project's own prefix set-up.
make_prefix_in_guest() {
  # shellcheck disable=SC2016
  run_vm "$1" bash -c '
    s=$SECONDS
    export WINEPREFIX=/root/.wine CORVANE_WINE_ARCH=win32 CORVANE_BUILD_DIR=/root
    source /mnt/src/cmake/wine-env.sh
    [ -f "$WINEPREFIX/.corvane-ready-2" ] || { echo "the Wine prefix could not be made"; exit 1; }
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    echo "Wine prefix made in $((SECONDS - s)) s"'
}

make_image() {
  local work="$dir/image.new" mirror start=$SECONDS
  mirror=$(corvane_debian_mirror "$suite") || die "no Debian archive for '$suite' in this machine's apt sources"
  rm -rf --one-file-system "$work"; mkdir -p "$work" "$dir/debcache"
  local rootfs="$work/root"
  # Whatever fails, nothing is left mounted and no half image stays behind.
  trap 'umount -q "$rootfs/var/cache/apt/archives" "$rootfs/dev/pts" "$rootfs/dev" "$rootfs/proc" 2>/dev/null;
        rm -rf --one-file-system "$work"' EXIT
  log "making the guest image (once; about 12 minutes with software emulation)"
  debootstrap --arch=amd64 --variant=minbase --cache-dir="$dir/debcache" --include=kmod,udev \
    "$suite" "$rootfs" "$mirror" > "$dir/debootstrap.log" 2>&1 || { tail -20 "$dir/debootstrap.log" >&2; exit 1; }
  log "base system after $((SECONDS - start)) s; installing the kernel, Wine (i386 + amd64), Xvfb"
  mount -t proc proc "$rootfs/proc"; mount --bind /dev "$rootfs/dev"; mount --bind /dev/pts "$rootfs/dev/pts"
  mount --bind "$dir/debcache" "$rootfs/var/cache/apt/archives"
  printf '#!/bin/sh\nexit 101\n' > "$rootfs/usr/sbin/policy-rc.d"; chmod 755 "$rootfs/usr/sbin/policy-rc.d"
  chroot "$rootfs" /bin/bash -euc '
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "$@"' \
    install "${GUEST_PACKAGES[@]}" > "$dir/install.log" 2>&1 || { tail -20 "$dir/install.log" >&2; exit 1; }
  umount "$rootfs/var/cache/apt/archives" "$rootfs/dev/pts" "$rootfs/dev" "$rootfs/proc"
  # Nothing in the image names the archive: no sources, no lists, no logs.
  rm -f "$rootfs/usr/sbin/policy-rc.d" "$rootfs/var/log/bootstrap.log" "$rootfs/var/cache/apt/"*.bin
  rm -rf "$rootfs/var/lib/apt/lists/"*; : > "$rootfs/etc/apt/sources.list"; rm -f "$rootfs/etc/apt/sources.list.d/"*
  local host; host=$(sed 's|^[a-z]*://||; s|[/:].*||' <<<"$mirror")
  sed -i "s|$mirror|MIRROR|g; s|$host|MIRROR-HOST|g" "$dir/debootstrap.log" "$dir/install.log"
  echo x86vm > "$rootfs/etc/hostname"
  write_vminit "$rootfs/sbin/vminit"
  cp "$(ls "$rootfs"/boot/vmlinuz-* | sort -V | tail -n1)" "$work/vmlinuz"
  cp "$(ls "$rootfs"/boot/initrd.img-* | sort -V | tail -n1)" "$work/initrd.img"
  log "root file system after $((SECONDS - start)) s; making the disk image"
  truncate -s 8G "$work/root.img"
  mkfs.ext4 -q -F -L x86vm -d "$rootfs" "$work/root.img"
  rm -rf --one-file-system "$rootfs"
  log "disk image after $((SECONDS - start)) s; first boot: the Wine prefix"
  X86VM_PERSIST=1 kernel_dir="$work" make_prefix_in_guest "$work/root.img" >&2 || die "making the guest's Wine prefix failed"
  recipe_hash > "$work/recipe"
  # The new image replaces the old one whole.
  rm -rf --one-file-system "$dir/image"; mv "$work" "$dir/image"; trap - EXIT
  log "guest image ready after $((SECONDS - start)) s"
}

# ---- End of the recipe. ----

# The recipe's fingerprint: the functions and package list above, and the prefix set-up they run.
recipe_hash() {
  { declare -p GUEST_PACKAGES; declare -f write_vminit make_prefix_in_guest make_image; cat "$root/cmake/wine-env.sh"; } \
    | sha256sum | cut -d' ' -f1
}

need_host_tools() {
  local missing=()
  command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
  command -v debootstrap >/dev/null || missing+=(debootstrap)
  command -v mkfs.ext4 >/dev/null || missing+=(e2fsprogs)
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    apt-get update -qq >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Software emulation by default: /dev/kvm was seen to open and then hang the guest's kernel (a
# machine that is itself virtual). X86VM_ACCEL=kvm uses KVM where it works. Plain `-cpu max` under
# software emulation kills every Wine process at the system-call return: SMAP stays off there.
accel_args() {
  case "${X86VM_ACCEL:-tcg}" in
    kvm) echo "-accel kvm -cpu host" ;;
    tcg) echo "-accel tcg,thread=multi -cpu max,-smap" ;;
    *) die "X86VM_ACCEL must be tcg or kvm" ;;
  esac
}

# run_vm IMAGE COMMAND...: boots IMAGE, runs COMMAND in the guest with the repository at /mnt/src,
# prints its output and returns its exit code.
run_vm() {
  local img=$1; shift
  local kdir=${kernel_dir:-$dir/image} ctl rc
  ctl=$(mktemp -d "$dir/ctl.XXXXXX")
  { echo 'export WINEPREFIX=/root/.wine'; printf '%q ' "$@"; echo; } > "$ctl/cmd.sh"
  # shellcheck disable=SC2207
  local args=($(accel_args) -smp "$smp" -m "$mem"
              -nographic -no-reboot -nic none -kernel "$kdir/vmlinuz" -initrd "$kdir/initrd.img"
              -drive "file=$img,format=raw,if=virtio,cache=unsafe"
              -virtfs "local,path=$ctl,mount_tag=vmctl,security_model=none,id=vmctl"
              -virtfs "local,path=$root,mount_tag=src,security_model=none,id=src,readonly=on"
              -append "root=/dev/vda rw console=ttyS0 quiet init=/sbin/vminit")
  [ "${X86VM_PERSIST:-0}" = 1 ] || args+=(-snapshot)
  rc=0; timeout --kill-after=10 "$limit" qemu-system-x86_64 "${args[@]}" > "$ctl/console.log" 2>&1 </dev/null || rc=$?
  cp "$ctl/console.log" "$dir/console.log" 2>/dev/null || true
  cat "$ctl/out.log" 2>/dev/null || true
  [ -z "${keep_file:-}" ] || cp "$ctl/$keep_file" "$keep_to" 2>/dev/null || true
  if [ -f "$ctl/rc" ]; then rc=$(cat "$ctl/rc")
  elif [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then log "the guest ran past its time bound ($limit s) and was ended"; rc=124
  else log "the guest ended without the command's exit code (qemu exit $rc); see $dir/console.log"; rc=125
  fi
  rm -rf "$ctl"
  return "$rc"
}

# run_in_tree COMMAND...: COMMAND in the guest, in its copy of the win32 build tree. The copy is on
# the guest's disk (much faster than the share for the suite's file work), at the repository's own
# path: the source, the win32 build without objects, private Wine prefix and old test logs, and the
# host build's programs.
run_in_tree() {
  # shellcheck disable=SC2016
  local script='set -e
    r=$1; shift
    mkdir -p "$r/build/win32" "$r/build/host/bin"
    tar -C /mnt/src -cf - --exclude=./build --exclude=./.git . | tar -C "$r" -xf -
    tar -C /mnt/src/build/win32 -cf - --exclude=./wineprefix --exclude=./wineprefix.lock --exclude=./Testing \
        --exclude="*.obj" --exclude="*.a" --exclude=./demo . | tar -C "$r/build/win32" -xf -
    [ ! -d /mnt/src/build/host/bin ] || cp -a /mnt/src/build/host/bin/. "$r/build/host/bin/"
    cd "$r/build/win32"
    set +e
    "$@"'
  run_vm "$dir/image/root.img" bash -c "$script" guest "$root" "$@"
}

[ $# -gt 0 ] || { usage >&2; exit 2; }
case "$1" in -h|--help) usage; exit 0 ;; esac
verb=$1; shift
case "$verb" in
  suite|test|run|image) ;;
  *) echo "win32-vm: unknown command '$verb' (suite, test, run or image; --help)" >&2; exit 2 ;;
esac
[ "$verb" != test ] || [ $# -gt 0 ] || { echo "win32-vm: test needs a program name" >&2; exit 2; }
[ "$verb" != run ] || [ $# -gt 0 ] || { echo "win32-vm: run needs a command" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap and its mounts)"
if [ "$verb" != image ]; then
  [ -f "$root/build/win32/CTestTestfile.cmake" ] || die "no win32 build: run scripts/build.sh first"
fi

mkdir -p "$dir"
# Control folders of runs that were stopped from outside (no run lives past its time bound).
find "$dir" -maxdepth 1 -name 'ctl.*' -mmin +$((limit / 60 + 10)) -exec rm -rf {} + 2>/dev/null || true
need_host_tools
exec 9>"$dir/.lock"
flock 9
if [ ! -f "$dir/image/recipe" ] || [ "$(cat "$dir/image/recipe")" != "$(recipe_hash)" ]; then
  make_image
fi
flock -u 9   # -snapshot runs leave the image alone and may overlap
[ "$verb" != image ] || exit 0

rc=0
case "$verb" in
  suite)
    mkdir -p "$root/build/test-logs"
    keep_file=LastTest.log keep_to="$root/build/test-logs/win32-LastTest.log" run_in_tree bash -c '
      CORVANE_TEST_TIMEOUT_SCALE='"$TIMEOUT_SCALE"' CORVANE_BUILD_DIR=$PWD \
        xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure "$@"; rc=$?
      cp Testing/Temporary/LastTest.log /vmctl/ 2>/dev/null; exit $rc' ctest "$@" || rc=$? ;;
  test)
    run_in_tree bash -c 'cd tests && CORVANE_BUILD_DIR=$(dirname "$PWD") \
      xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"' "$root/cmake/wine-run.sh" "./$1" "${@:2}" || rc=$? ;;
  run)
    run_in_tree "$@" || rc=$? ;;
esac
exit "$rc"
