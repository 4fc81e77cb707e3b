#!/usr/bin/env bash
# Peak resident memory of one run of the tool on an image of 64 full disks
# (21,504 files), into an empty folder. Target: below 4 MiB. Exits 1 when the
# target is missed.
#
#   bench/peak_memory.sh [BUILD_DIR [IMAGE]]   (default: build/bench, the bench preset)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/bench}" && pwd)
tool=$build/tool/zelvrin
make_image=$build/bench/make_bench_image
if [ ! -x "$tool" ] || [ ! -x "$make_image" ]; then
  echo "peak_memory.sh: build first: cmake --workflow --preset bench" >&2
  exit 1
fi
if [ ! -x /usr/bin/time ] && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install -y -qq time >/dev/null 2>&1 || true
fi
if [ ! -x /usr/bin/time ]; then
  echo "peak_memory.sh: needs GNU time (/usr/bin/time, Debian package time)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=${2:-}
if [ -z "$image" ]; then
  image=$work/image-64.d88
  "$make_image" 64 "$image" >/dev/null
fi
image=$(cd "$(dirname "$image")" && pwd)/$(basename "$image")

mkdir "$work/out"
status=0
(cd "$work/out" && /usr/bin/time -f %M -o "$work/rss" "$tool" "$image" >/dev/null) || status=$?
kib=$(tail -n 1 "$work/rss")
files=$(find "$work/out" -mindepth 1 -maxdepth 1 -type f | wc -l)
echo "zelvrin: status $status, $files files; peak resident memory $kib KiB (target: below 4096 KiB)"
[ "$kib" -lt 4096 ]
