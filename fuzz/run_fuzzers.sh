#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of
# its seed corpus. A crash, a leak, a sanitizer report, a broken invariant or a
# hang fails the run; the input that caused it is kept in build/fuzz/findings/.
#
# Longer runs:
#   FUZZ_SECONDS=3600 fuzz/run_fuzzers.sh        an hour per target (default 60 s)
#   FUZZ_TARGETS="zelvrin" fuzz/run_fuzzers.sh   only some targets: d88_image lzss_decoder zelvrin
#   FUZZ_CORPUS=~/zelvrin-corpus fuzz/run_fuzzers.sh
#                                                keep each grown corpus in FUZZ_CORPUS/<target>
#                                                and go on from it next time
#   fuzz/run_fuzzers.sh -fork=4                  further arguments go to every libFuzzer run
# A finding replays on its own: build/fuzz/fuzz/<target>_fuzzer FILE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"d88_image lzss_decoder zelvrin"}
build=$root/build/fuzz
findings=$build/findings

echo "== building the fuzz targets (preset fuzz)"
cmake --workflow --preset fuzz >"$root/build/fuzz-build.log" 2>&1 || {
  cat "$root/build/fuzz-build.log"
  exit 1
}

# Symbolized stacks need llvm-symbolizer, which a bare clang install lacks;
# addr2line from binutils does the job then.
symbolizer=$(command -v llvm-symbolizer || ls /usr/lib/llvm-*/bin/llvm-symbolizer 2>/dev/null | tail -n 1 || true)
sanitizer_options="print_stacktrace=1"
if [ -n "$symbolizer" ]; then
  export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$symbolizer}
else
  sanitizer_options="$sanitizer_options:allow_addr2line=1"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-$sanitizer_options}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-$sanitizer_options}

# The targets write the image and the tool's files for every input; memory is
# much faster there than a disk.
scratch_base=${TMPDIR:-/tmp}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
scratch=$(mktemp -d "$scratch_base/zelvrin-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in $targets; do
  binary=$build/fuzz/${target}_fuzzer
  seeds=$build/fuzz/seeds/$target
  if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
    echo "no fuzz target $target" >&2
    failed+=("$target")
    continue
  fi
  if [ -n "${FUZZ_CORPUS:-}" ]; then
    corpus=$FUZZ_CORPUS/$target
    mkdir -p "$corpus"
  else
    corpus=$scratch/corpus-$target
    mkdir -p "$corpus"
  fi
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  chmod -R u+w "$corpus"
  mkdir -p "$findings/$target"
  # Images past 256 KiB fuzz slowly and reach no code that smaller ones miss.
  max_len=()
  [ "$target" = lzss_decoder ] || max_len=(-max_len=262144)

  log=$scratch/$target.log
  echo "== fuzzing $target for ${seconds} s"
  status=0
  TMPDIR=$scratch "$binary" "$corpus" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$findings/$target/" "${max_len[@]}" "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "fuzz target $target failed (status $status); inputs kept in $findings/$target/:" >&2
    ls -l "$findings/$target" >&2
    failed+=("$target")
  else
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "== fuzzing found nothing"
