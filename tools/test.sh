#!/usr/bin/env bash
# Installs what is missing, builds Varnisk twice (plain and with ASan+UBSan) and runs every
# test in both builds, runs the tests labelled "threads" (encryption with its helper thread) in
# a third build with ThreadSanitizer, builds the Debian package and checks it with lintian, then
# gives the decryption fuzzer a short run.
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
echo "== thread sanitizer build (tests labelled threads) =="
# Qt and OpenSSL are not built with it: the memory accesses made inside them are left out.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNISK_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" -j2 --target varnisk_thread_tests
(cd "$top/build-tsan" && ctest --output-on-failure -j2 --timeout 300 -L threads)
unset TSAN_OPTIONS
if [ -x "$top/fuzz/run-fuzz.sh" ]; then
    echo "== fuzzing decryptStream =="
    "$top/fuzz/run-fuzz.sh" "${VARNISK_FUZZ_SECONDS:-60}"
fi
echo "All test suites passed."
