#!/usr/bin/env bash
# The whole tool against the file-system floor: for images of 1, 8 and 64 full
# disks (336 files each), the tool extracting the image into an empty folder
# against `tar -xf` writing exactly the same files into an empty folder.
# Alternating runs; prints both medians, their ratio, the time per disk and the
# tool's peak resident memory.
#
#   bench/compare.sh [BUILD_DIR]       (default: build/bench, the bench preset)
#
# Environment: RUNS (counted runs of each, default 9), DISKS (default
# "1 8 64"), SCRATCH (work folder; default a new folder in /dev/shm, else
# BUILD_DIR/compare; the file system it lies on is part of what is measured),
# KEEP=1 keeps the work folder (the images, the tars and every run's time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/bench}" && pwd)
tool=$build/tool/zelvrin
make_image=$build/bench/make_bench_image
runs=${RUNS:-9}
sizes=${DISKS:-1 8 64}
# A tmpfs (RAM) file system by default: on a disk file system the cost of
# creating 21,504 files swamps both commands and swings from run to run with
# the journal and the write-back, for the tool and tar alike.
if [ -z "${SCRATCH:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=/dev/shm/zelvrin-compare-$$
else
  scratch=${SCRATCH:-$build/compare}
fi

if [ ! -x "$tool" ] || [ ! -x "$make_image" ]; then
  echo "compare.sh: build first: cmake --workflow --preset bench" >&2
  exit 1
fi

# hyperfine from Debian's packages; installed when missing and we may, else
# GNU time (10 ms resolution).
if ! command -v hyperfine >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install -y -qq hyperfine >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq hyperfine >/dev/null 2>&1; } || true
fi
if [ ! -x /usr/bin/time ] && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install -y -qq time >/dev/null 2>&1 || true
fi
if [ ! -x /usr/bin/time ]; then
  echo "compare.sh: needs GNU time (/usr/bin/time, Debian package time)" >&2
  exit 1
fi
if command -v hyperfine >/dev/null 2>&1; then timer=hyperfine; else timer=time; fi

rm -rf "$scratch"
mkdir -p "$scratch"
out_tool=$scratch/out-tool

# Seconds that one run of "$@" takes in the new, empty folder $1. Each run
# gets a folder of its own and the folders are removed only after the last run
# of an image size: removing thousands of files just before creating as many
# makes some file systems (ext4) slow to find free inodes, and that would
# measure the removal.
time_in() {
  local dir=$1
  shift
  mkdir "$dir"
  if [ $timer = hyperfine ]; then
    # hyperfine measures the shell it starts the command with and takes that off.
    (cd "$dir" && hyperfine --runs 1 --style none --export-csv "$scratch/run.csv" \
      "$(printf '%q ' "$@")" >/dev/null 2>&1)
    awk -F, 'NR == 2 { print $2 }' "$scratch/run.csv"
  else
    (cd "$dir" && /usr/bin/time -f %e -o "$scratch/run.txt" "$@" >/dev/null)
    tail -n 1 "$scratch/run.txt"
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "timer: $timer; $runs alternating runs each after one uncounted pair;" \
  "work folder $scratch ($(df -PT "$scratch" | awk 'NR == 2 { print $2 }'))"
printf '%6s %7s %11s %11s %7s %14s %14s %14s\n' disks files "tool (s)" "tar -xf (s)" ratio \
  "tool per disk" "tar per disk" "tool peak RSS"
declare -A tool_per_disk tar_per_disk
for n in $sizes; do
  image=$scratch/image-$n.d88
  "$make_image" "$n" "$image" >/dev/null

  # One run to check the image and to collect the files the tool writes.
  rm -rf "$out_tool" && mkdir "$out_tool"
  status=0
  (cd "$out_tool" && "$tool" "$image" >/dev/null) || status=$?
  files=$(find "$out_tool" -mindepth 1 -maxdepth 1 -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$files" -ne $((336 * n)) ]; then
    echo "compare.sh: the tool gave status $status and $files files for $n disks" >&2
    exit 1
  fi
  tarball=$scratch/files-$n.tar
  (cd "$out_tool" && find . -mindepth 1 -maxdepth 1 -type f -printf '%P\0' | LC_ALL=C sort -z |
    tar --null --verbatim-files-from -T - -cf "$tarball")

  # The tool's peak resident memory, in KiB.
  rm -rf "$out_tool" && mkdir "$out_tool"
  (cd "$out_tool" && /usr/bin/time -f %M -o "$scratch/rss.txt" "$tool" "$image" >/dev/null)
  rss=$(tail -n 1 "$scratch/rss.txt")
  rm -rf "$out_tool"

  : >"$scratch/tool-$n.txt"
  : >"$scratch/tar-$n.txt"
  time_in "$scratch/warm-tool" "$tool" "$image" >/dev/null
  time_in "$scratch/warm-tar" tar -xf "$tarball" >/dev/null
  for ((r = 0; r < runs; ++r)); do
    time_in "$scratch/run-$r-tool" "$tool" "$image" >>"$scratch/tool-$n.txt"
    time_in "$scratch/run-$r-tar" tar -xf "$tarball" >>"$scratch/tar-$n.txt"
  done
  rm -rf "$scratch"/warm-* "$scratch"/run-*
  tool_median=$(median <"$scratch/tool-$n.txt")
  tar_median=$(median <"$scratch/tar-$n.txt")

  tool_per_disk[$n]=$(awk -v t="$tool_median" -v n="$n" 'BEGIN { print t / n }')
  tar_per_disk[$n]=$(awk -v t="$tar_median" -v n="$n" 'BEGIN { print t / n }')
  printf '%6d %7d %11.4f %11.4f %7.2f %12.2fms %12.2fms %10d KiB\n' "$n" "$files" \
    "$tool_median" "$tar_median" "$(awk -v a="$tool_median" -v b="$tar_median" 'BEGIN { print a / b }')" \
    "$(awk -v t="${tool_per_disk[$n]}" 'BEGIN { print t * 1000 }')" \
    "$(awk -v t="${tar_per_disk[$n]}" 'BEGIN { print t * 1000 }')" "$rss"
done

echo "targets: ratio <= 1.00 at 64 disks; tool peak RSS < 4096 KiB at 64 disks"
if [ -n "${tool_per_disk[8]:-}" ] && [ -n "${tool_per_disk[64]:-}" ]; then
  awk -v a="${tool_per_disk[64]}" -v b="${tool_per_disk[8]}" -v c="${tar_per_disk[64]}" \
    -v d="${tar_per_disk[8]}" 'BEGIN { printf "time per disk at 64 disks / at 8 disks: tool %.2f" \
    " (target <= 1.20), tar -xf %.2f\n", a / b, c / d }'
fi
[ -n "${KEEP:-}" ] || rm -rf "$scratch"
