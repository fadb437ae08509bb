#!/usr/bin/env bash
# Repeats the Type Selection rows that must give exact bytes under load, and counts the runs
# that did: the X11 load rows (tst_x11typing_load: busy loops on every processor, the target
# stopped for a second) and the XWayland rows with a virtual keyboard's keymap
# (tst_xwaylandtyping, here with busy loops on every processor beside it). The log of a failed
# run is kept as BUILD_DIR/typing_load-ENTRY-RUN.log.
#
# Usage: bench/typing_load.sh BUILD_DIR [RUNS]   (default 20)
set -u
build=$(cd "$1" && pwd)
runs=${2:-20}
busy=()
stop_busy() {
    if [ ${#busy[@]} -gt 0 ]; then
        kill "${busy[@]}" 2>/dev/null
        wait "${busy[@]}" 2>/dev/null
    fi
    busy=()
}
trap stop_busy EXIT

for entry in tst_x11typing_load tst_xwaylandtyping; do
    passed=0
    if [ "$entry" = tst_xwaylandtyping ]; then
        for ((core = 0; core < $(nproc); core++)); do
            sh -c 'while :; do :; done' &
            busy+=($!)
        done
    fi
    for ((run = 1; run <= runs; run++)); do
        if (cd "$build" && ctest -R "^$entry\$" --timeout 300 >/dev/null 2>&1); then
            passed=$((passed + 1))
        else
            cp "$build/Testing/Temporary/LastTest.log" "$build/typing_load-$entry-$run.log"
            echo "$entry: run $run failed (log: $build/typing_load-$entry-$run.log)"
        fi
    done
    stop_busy
    echo "$entry: $passed of $runs runs gave exact bytes"
done
