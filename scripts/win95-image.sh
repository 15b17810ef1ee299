#!/usr/bin/env bash
# Builds a disk image shaped like a Windows 95 hard disk, for benchmarks and screenshots:
# usage win95-image.sh IMAGE DRIVE_DIR
#   IMAGE      the image to write: 2 GiB, sparse, an MBR with one active FAT16 partition
#              from sector 63 (as Windows 95's FDISK made them, 32 KiB clusters)
#   DRIVE_DIR  a boot drive's root whose files are copied in (msdos.sys made read-only,
#              hidden and system), beside IO.SYS, COMMAND.COM and a WINDOWS folder
# Needs sfdisk (fdisk), mkfs.fat (dosfstools) and mtools; no root.
set -euo pipefail

image=${1:?usage: $0 IMAGE DRIVE_DIR}
drive=${2:?usage: $0 IMAGE DRIVE_DIR}
offset=$((63 * 512))
sectors=$((2 * 1024 * 1024 * 2 - 63))

rm -f "$image"
truncate -s 2G "$image"
printf 'start=63, size=%d, type=6, bootable\n' "$sectors" | sfdisk -q "$image"
mkfs.fat -F 16 -s 64 -n WIN95 --offset 63 "$image" $((sectors / 2)) >/dev/null
at="$image@@$offset"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/varnello-image.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
head -c 222390 /dev/urandom >"$scratch/IO.SYS"
head -c 92870 /dev/urandom >"$scratch/COMMAND.COM"
printf 'DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\n' >"$scratch/CONFIG.SYS"
printf '@ECHO OFF\r\n' >"$scratch/AUTOEXEC.BAT"
for name in "$drive"/*; do
    cp "$name" "$scratch/$(basename "$name" | tr a-z A-Z)"
done
mcopy -i "$at" "$scratch"/* ::/
mattrib -i "$at" -a +r +h +s ::/IO.SYS ::/MSDOS.SYS
mmd -i "$at" ::/WINDOWS ::/WINDOWS/SYSTEM
for name in WIN.COM WIN.INI SYSTEM.INI; do
    head -c 4096 /dev/urandom >"$scratch/$name"
    mcopy -i "$at" "$scratch/$name" ::/WINDOWS/
done
