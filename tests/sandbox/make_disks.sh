#!/usr/bin/env bash
# The test disks, made with the real tools from machine descriptions:
#   make_disks.sh MAKE_IMAGE MAKE_TEST_DISK OUT SCENARIO.scn...
# For each scenario NAME: OUT/NAME/image (the machine image, as --image reads it), and the same
# machine on two disks: OUT/NAME/disk.img, a raw disk with an MBR and one FAT32 partition (with
# MSDOS.SYS naming the Windows directory), and OUT/NAME/fat16.img, a bare FAT16 volume (where the
# Windows directory is the folder holding SYSTEM.DAT). Files go in by name order, with their
# attributes (mattrib), and SYSTEM.DAT and USER.DAT beside them in the Windows directory.
# OUT/win98-profile is the win98 machine with a user profile, ANNA, the current user (its disk
# is read with --user ANNA, which OUT/win98-profile/disk-args gives). OUT/bad/ holds the disks that
# must be refused, each spoilt in one way (see the end).
set -euo pipefail
make_image=$1 make_test_disk=$2 out=$3
shift 3
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 LC_ALL=C
rm -rf "$out"
mkdir -p "$out/bad"

# put_le FILE OFFSET BYTES VALUE: VALUE as BYTES little-endian bytes at OFFSET of FILE.
put_le() {
  local file=$1 offset=$2 bytes=$3 value=$4 text="" i
  for ((i = 0; i < bytes; i++)); do text+=$(printf '\\%03o' $(((value >> (8 * i)) & 255))); done
  printf "$text" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

# mbr FILE TYPE START SECTORS: a partition table with one partition.
mbr() {
  local file=$1 type=$2 start=$3 sectors=$4
  put_le "$file" 446 1 128           # active
  put_le "$file" 447 3 0xFFFFFE      # CHS: beyond what CHS holds, LBA is used
  put_le "$file" 450 1 "$type"
  put_le "$file" 451 3 0xFFFFFE
  put_le "$file" 454 4 "$start"
  put_le "$file" 458 4 "$sectors"
  put_le "$file" 510 2 0xAA55
}

# fill VOLUME IMAGE_DIR WINDIR: the image's drive C: onto the mtools volume VOLUME ("file@@offset").
fill() {
  local volume=$1 image=$2 windir=$3 path flags
  (cd "$image/drives/C" && find . -mindepth 1 | sort) | while read -r path; do
    path=${path#./}
    if [ -d "$image/drives/C/$path" ]; then
      mmd -i "$volume" "::/$path"
    else
      mcopy -i "$volume" "$image/drives/C/$path" "::/$path"
    fi
  done
  # attributes.txt: "RHSU C:\PATH"
  while read -r flags path; do
    [ -n "$flags" ] || continue
    path=${path%$'\r'}
    path=${path#C:\\}
    args=()
    [ "${flags:0:1}" = R ] && args+=(+r)
    [ "${flags:1:1}" = H ] && args+=(+h)
    [ "${flags:2:1}" = S ] && args+=(+s)
    [ ${#args[@]} -gt 0 ] && mattrib -i "$volume" "${args[@]}" "::/${path//\\//}"
  done <"$image/attributes.txt"
  mcopy -i "$volume" "$image/../SYSTEM.DAT" "$image/../USER.DAT" "::/$windir/"
  mattrib -i "$volume" +r +h +s "::/$windir/SYSTEM.DAT" "::/$windir/USER.DAT"
}

# fat32_disk FILE: 41 MiB, an MBR and one FAT32 partition from sector 2048 (1 MiB).
fat32_disk() {
  local file=$1
  truncate -s 41M "$file"
  mkfs.fat -F 32 -s 1 -h 2048 --offset 2048 "$file" 40960 >/dev/null
  mbr "$file" 0x0C 2048 81920
}

# fat16_volume FILE: a 16 MiB FAT16 volume of 512-byte clusters, 4 reserved sectors.
fat16_volume() {
  truncate -s 16M "$1"
  mkfs.fat -F 16 -s 1 -R 4 "$1" >/dev/null
}

# machine SCENARIO NAME [USER]
machine() {
  local scenario=$1 name=$2 user=${3:-}
  dir=$out/$name
  "$make_image" "$scenario" "$dir/source"
  "$make_test_disk" "$dir/source" "$dir" ${user:+"$user"}
  windir=$(sed -n 's/^WindowsDirectory=C:\\\(.*\)\r$/\1/p' "$dir/image/machine.ini")
  fat32_disk "$dir/disk.img"
  printf '[Paths]\r\nWinDir=C:\\%s\r\nWinBootDir=C:\\%s\r\nHostWinBootDrv=C\r\n' "$windir" "$windir" >"$dir/MSDOS.SYS"
  mcopy -i "$dir/disk.img@@1M" "$dir/MSDOS.SYS" ::/MSDOS.SYS
  mattrib -i "$dir/disk.img@@1M" +r +h +s ::/MSDOS.SYS
  fill "$dir/disk.img@@1M" "$dir/image" "$windir"
  fat16_volume "$dir/fat16.img"
  fill "$dir/fat16.img" "$dir/image" "$windir"
  if [ -n "$user" ]; then
    for volume in "$dir/disk.img@@1M" "$dir/fat16.img"; do
      mcopy -i "$volume" "$dir/PROFILE.DAT" "::/$windir/Profiles/$user/USER.DAT"
      mattrib -i "$volume" +h "::/$windir/Profiles/$user/USER.DAT"
    done
    echo "--user $user" >"$dir/disk-args"
  fi
  rm -rf "$dir/source"
}

for scenario in "$@"; do
  machine "$scenario" "$(basename "$scenario" .scn)"
  [ "$(basename "$scenario")" = win98.scn ] && machine "$scenario" win98-profile ANNA
done

# 8.3 names as the disk has them: two long names whose aliases mtools gave in the order it wrote
# them, "two" first, so that LONGNA~1.TXT is "Long name two.txt" (made afresh, in name order, the
# simulator would give ~1 to "Long name one.txt").
cp "$out/win98/fat16.img" "$out/short-names.img"
printf 'two' >"$out/two.txt"
printf 'one' >"$out/one.txt"
mcopy -i "$out/short-names.img" "$out/two.txt" "::/WINDOWS/Long name two.txt"
mcopy -i "$out/short-names.img" "$out/one.txt" "::/WINDOWS/Long name one.txt"
rm -f "$out/two.txt" "$out/one.txt"

# ---- The bad disks, each from the win98 machine's and spoilt in one way.
good=$out/win98
bad=$out/bad
printf 'REGEDIT4\r\n\r\nnot a disk at all\r\n' >"$bad/not-a-disk.img"

truncate -s 8M "$bad/no-fat-partition.img"
mbr "$bad/no-fat-partition.img" 0x83 2048 14336

# fat16_cluster VOLUME PATH: the first cluster of a file or folder, as mshowfat gives it.
first_cluster() { mshowfat -i "$1" "$2" | sed -n 's/.*<\([0-9]*\).*/\1/p' | head -n 1; }
# fat_entry VOLUME CLUSTER VALUE: sets a FAT16 entry in both FATs (4 reserved sectors first).
fat_entry() {
  local volume=$1 cluster=$2 value=$3 fat_sectors
  fat_sectors=$(od -An -tu2 -j22 -N2 "$volume" | tr -d ' ')
  put_le "$volume" $((4 * 512 + 2 * cluster)) 2 "$value"
  put_le "$volume" $(((4 + fat_sectors) * 512 + 2 * cluster)) 2 "$value"
}
# A file of four clusters in the Windows directory of a copy of the FAT16 volume.
with_long_file() {
  cp "$good/fat16.img" "$1"
  head -c 2048 /dev/zero | tr '\0' 'x' >"$out/long.txt"
  mcopy -i "$1" "$out/long.txt" ::/WINDOWS/LONG.TXT
}

with_long_file "$bad/damaged-fat.img"
fat_entry "$bad/damaged-fat.img" "$(first_cluster "$bad/damaged-fat.img" ::/WINDOWS/LONG.TXT)" 0

with_long_file "$bad/cross-linked.img"
fat_entry "$bad/cross-linked.img" "$(first_cluster "$bad/cross-linked.img" ::/WINDOWS/LONG.TXT)" \
  "$(first_cluster "$bad/cross-linked.img" ::/WINDOWS/NOTEPAD.EXE)"

# A folder whose entry leads back to the Windows directory itself.
cp "$good/fat16.img" "$bad/directory-loop.img"
mmd -i "$bad/directory-loop.img" ::/WINDOWS/LOOPBACK
windows_cluster=$(first_cluster "$bad/directory-loop.img" ::/WINDOWS)
entry=$(grep -obUaP 'LOOPBACK   \x10' "$bad/directory-loop.img" | head -n 1 | cut -d: -f1)
put_le "$bad/directory-loop.img" $((entry + 26)) 2 "$windows_cluster"

# SYSTEM.DAT missing (MSDOS.SYS still names the Windows directory), and cut short.
cp "$good/disk.img" "$bad/no-system-dat.img"
mattrib -i "$bad/no-system-dat.img@@1M" -r -h -s ::/WINDOWS/SYSTEM.DAT
mdel -i "$bad/no-system-dat.img@@1M" ::/WINDOWS/SYSTEM.DAT
cp "$good/disk.img" "$bad/truncated-system-dat.img"
head -c 200 "$good/SYSTEM.DAT" >"$out/SYSTEM.DAT"
mattrib -i "$bad/truncated-system-dat.img@@1M" -r ::/WINDOWS/SYSTEM.DAT
mcopy -o -i "$bad/truncated-system-dat.img@@1M" "$out/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT

# A SYSTEM.DAT whose key tree leads outside the file: the root's first subkey at 0x7FFFFF00
# (the root's key entry starts 32 bytes into the navigation record, itself at 32).
cp "$good/SYSTEM.DAT" "$out/SYSTEM.DAT"
put_le "$out/SYSTEM.DAT" $((32 + 32 + 16)) 4 0x7FFFFF00
cp "$good/fat16.img" "$bad/hive-outside.img"
mattrib -i "$bad/hive-outside.img" -r ::/WINDOWS/SYSTEM.DAT
mcopy -o -i "$bad/hive-outside.img" "$out/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
# A SYSTEM.DAT whose key tree loops: the root's first subkey is the root itself.
cp "$good/SYSTEM.DAT" "$out/SYSTEM.DAT"
put_le "$out/SYSTEM.DAT" $((32 + 32 + 16)) 4 32
cp "$good/fat16.img" "$bad/hive-loop.img"
mattrib -i "$bad/hive-loop.img" -r ::/WINDOWS/SYSTEM.DAT
mcopy -o -i "$bad/hive-loop.img" "$out/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
rm -f "$out/SYSTEM.DAT" "$out/long.txt"
