#!/usr/bin/env bash
# Builds the decryption fuzzer with clang (libFuzzer, ASan, UBSan) in its own build folder and
# runs it for SECONDS (default 60). Exits non-zero when the fuzzer finds a crash; the input
# that caused it is saved under the build folder's artifacts/ and named in the output.
#   usage: fuzz/run-fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=${VARNISK_FUZZ_BUILD_DIR:-$top/build-fuzz}
corpus=$here/corpus-run   # grows with what the fuzzer finds; not kept in the repository
artifacts=$build/artifacts

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_decryptstream
mkdir -p "$corpus" "$artifacts"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
status=0
"$build/fuzz_decryptstream" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$here/corpus" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz_decryptstream found a crash (exit $status); inputs in $artifacts:" >&2
    ls -l "$artifacts" >&2
    exit 1
fi
echo "fuzz_decryptstream: no crash in $seconds s"
