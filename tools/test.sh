#!/usr/bin/env bash
# Installs what is missing, builds Varnisk twice (plain and with ASan+UBSan) and runs every
# test in both builds, builds the Debian package and checks it with lintian, then gives the
# decryption fuzzer a short run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

run_suite() {
    local dir=$1
    shift
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j2
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}

echo "== plain build =="
run_suite "$top/build-test"
echo "== Debian package =="
rm -f "$top"/build-test/varnisk_*.deb
(cd "$top/build-test" && cpack -G DEB >/dev/null)
lintian --fail-on error "$top"/build-test/varnisk_*.deb
echo "== sanitizer build (ASan + UBSan) =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite "$top/build-sanitize" -DVARNISK_SANITIZE=ON
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
if [ -x "$top/fuzz/run-fuzz.sh" ]; then
    echo "== fuzzing decryptStream =="
    "$top/fuzz/run-fuzz.sh" "${VARNISK_FUZZ_SECONDS:-60}"
fi
echo "All test suites passed."
