#!/usr/bin/env bash
# Runs the file-stream fault cases (a Windows test program, under Wine) against a real full disk:
# a 2 MB tmpfs mounted at MOUNT_DIR for the run and unmounted afterwards.
#
#   FileStreamFaults.sh TEST_EXE MOUNT_DIR [GTEST_ARGS...]
# Exits 77 (reported as skipped) when the file system cannot be mounted here (not root, no mount
# permission in a container): the cases need a volume that really runs out of space.
set -u

exe=$1
mount_dir=$2
shift 2
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
skip=77

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: mounting the 2 MB test volume needs root"
  exit $skip
fi
# A volume left mounted by an interrupted run is dropped first.
if mountpoint -q "$mount_dir" 2>/dev/null; then umount "$mount_dir" 2>/dev/null || umount -l "$mount_dir"; fi
mkdir -p "$mount_dir" || exit 1
if ! err=$(mount -t tmpfs -o size=2m,mode=0777 corvane-faults "$mount_dir" 2>&1); then
  echo "SKIP: cannot mount a tmpfs at $mount_dir: $err"
  exit $skip
fi
trap 'umount "$mount_dir" 2>/dev/null || umount -l "$mount_dir" 2>/dev/null' EXIT

# Wine sees the Unix root as drive Z:.
export CORVANE_FAULT_VOLUME="Z:${mount_dir//\//\\}"
"$here/../../../cmake/wine-run.sh" "$exe" --gtest_color=no "$@" </dev/null
