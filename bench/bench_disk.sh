#!/usr/bin/env bash
# Benchmark: rk514-sandbox --disk on a disk of 4 GB, time and peak memory. The disk is a sparse
# raw image with an MBR and one FAT32 partition of nearly 4 GB (4 KB clusters) holding the
# Windows 98 sample machine and its registry files (from the tests' disks) and, beside Windows,
# a folder of other files (by default 512 MB of them), which --disk does not read: only the
# Windows directory, the Start-menu folders and the INF folder are.
#   bash bench/bench_disk.sh SANDBOX DISKS_DIR [OTHER_MB]
# SANDBOX: the release build's tool (build/sandbox/tools/sandbox/rk514-sandbox); DISKS_DIR: the
# tests' disks (build/host/disks, made by `ctest --test-dir build/host -R sandbox.disks`).
# The disk is made in a temporary folder and removed afterwards.
set -euo pipefail
sandbox=$1 disks=$2 other_mb=${3:-512}
machine=$disks/win98
[ -x "$sandbox" ] || { echo "no sandbox at $sandbox" >&2; exit 2; }
[ -f "$machine/SYSTEM.DAT" ] || { echo "no test disks in $disks: run ctest -R sandbox.disks" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C
disk=$work/disk4g.img volume="$work/disk4g.img@@1M"
size_mb=4096 part_sectors=$(((4096 - 1) * 2048))

echo "== making a ${size_mb} MB sparse disk (FAT32 from sector 2048)"
start=$(date +%s%N)
truncate -s ${size_mb}M "$disk"
mkfs.fat -F 32 -s 8 -h 2048 --offset 2048 "$disk" $((part_sectors / 2)) >/dev/null
# The partition table: one FAT32 (LBA) partition from sector 2048.
le() { local v=$1 n=$2 i; for ((i = 0; i < n; i++)); do printf "\\$(printf %03o $(((v >> (8 * i)) & 255)))"; done; }
{ printf '\x80\xfe\xff\xff\x0c\xfe\xff\xff'; le 2048 4; le $part_sectors 4; } |
  dd of="$disk" bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of="$disk" bs=1 seek=510 conv=notrunc status=none
(cd "$machine/image/drives/C" && find . -mindepth 1 | sort) | while read -r path; do
  path=${path#./}
  if [ -d "$machine/image/drives/C/$path" ]; then mmd -i "$volume" "::/$path"
  else mcopy -i "$volume" "$machine/image/drives/C/$path" "::/$path"; fi
done
mcopy -i "$volume" "$machine/SYSTEM.DAT" "$machine/USER.DAT" ::/WINDOWS/
# What --disk does not read: files outside the Windows directory.
mmd -i "$volume" "::/Program Files" "::/Program Files/Big"
head -c $((other_mb * 1024 * 1024 / 4)) /dev/urandom >"$work/big.bin"
for i in 1 2 3 4; do mcopy -i "$volume" "$work/big.bin" "::/Program Files/Big/part$i.bin"; done
rm -f "$work/big.bin"
echo "   made in $((($(date +%s%N) - start) / 1000000)) ms; $(du -h "$disk" | cut -f1) of it on the disk," \
  "$other_mb MB of files outside Windows"

echo "== rk514-sandbox --disk (the Windows 98 sample, ok,no)"
# Peak memory from GNU time (Debian's package "time"); without it the time alone, said loudly.
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f '   %e s elapsed, %M KB peak resident' "$sandbox" --disk "$disk" --answers ok,no --json \
    >"$work/report.json"
else
  echo "   NOTE: no /usr/bin/time (apt-get install time): the peak memory is not measured"
  start=$(date +%s%N)
  "$sandbox" --disk "$disk" --answers ok,no --json >"$work/report.json"
  echo "   $((($(date +%s%N) - start) / 1000000)) ms elapsed"
fi
grep -A5 '"summary"' "$work/report.json" | tr -d ' \n'
echo
