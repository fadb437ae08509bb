#!/usr/bin/env bash
# Installs what is missing, then runs every test against both Qt versions:
#   Qt 5: the whole suite in a plain build, the Debian package checked with lintian;
#   Qt 6: the whole suite (no benchmarks, no fuzzer replay) and its Debian package;
#   Qt 5: the whole suite again with ASan+UBSan, the tests labelled "threads" (encryption with
#         its helper thread) with ThreadSanitizer;
# and finally gives the decryption fuzzer a short run. Each stage says when it started.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

started=$SECONDS
stage() {
    echo "== $* == (at $((SECONDS - started)) s)"
}

run_suite() {
    local dir=$1
    shift
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j2
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}

package() {
    local dir=$1
    rm -f "$dir"/varnisk_*.deb
    (cd "$dir" && cpack -G DEB >/dev/null)
    lintian --fail-on error "$dir"/varnisk_*.deb
}

stage "Qt 5: plain build"
run_suite "$top/build-test" -DVARNISK_QT=5
stage "Qt 5: Debian package"
package "$top/build-test"
stage "Qt 6: plain build"
run_suite "$top/build-test-qt6" -DVARNISK_QT=6 -DVARNISK_BENCH_FUZZ=OFF
stage "Qt 6: Debian package"
package "$top/build-test-qt6"
stage "Qt 5: sanitizer build (ASan + UBSan)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite "$top/build-sanitize" -DVARNISK_QT=5 -DVARNISK_SANITIZE=ON
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
stage "Qt 5: thread sanitizer build (tests labelled threads)"
# Qt and OpenSSL are not built with it: the memory accesses made inside them are left out.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNISK_QT=5 \
    -DVARNISK_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" -j2 --target varnisk_thread_tests
(cd "$top/build-tsan" && ctest --output-on-failure -j2 --timeout 300 -L threads)
unset TSAN_OPTIONS
if [ -x "$top/fuzz/run-fuzz.sh" ]; then
    stage "fuzzing decryptStream"
    "$top/fuzz/run-fuzz.sh" "${VARNISK_FUZZ_SECONDS:-60}"
fi
echo "All test suites passed in $((SECONDS - started)) s."
