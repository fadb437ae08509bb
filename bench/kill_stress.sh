#!/usr/bin/env bash
# Kills `varnisk-cli encrypt --force` with SIGKILL at random moments while it replaces an
# existing file, and counts what each kill left at the target's path: the old file intact, the
# new one complete, anything else (corrupt); and any stray file left beside it.
#
# Usage: bench/kill_stress.sh [BUILD_DIR [RUNS [WORK_DIR]]]
#   BUILD_DIR  where varnisk-cli was built (default: build); RUNS: number of kills (100);
#   WORK_DIR   the file system to test on (default: $TMPDIR or /tmp). SIZE_MIB (8) sets the
#              size of the file that is encrypted.
# Not a test: a kill at a random moment proves nothing when it passes once; its counts over
# many runs are the figures in the README.
set -euo pipefail

build=${1:-build}
runs=${2:-100}
work=${3:-${TMPDIR:-/tmp}}
size_mib=${SIZE_MIB:-8}
cli=$(cd "$build" && pwd)/cli/varnisk-cli
[ -x "$cli" ] || { echo "no varnisk-cli in $build/cli" >&2; exit 2; }

dir=$(mktemp -d "$work/kill_stress.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/out"
printf 'stress password\n' >"$dir/pw"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$dir/plain"
printf 'the old content\n' >"$dir/old-plain"
"$cli" encrypt "$dir/old-plain" -o "$dir/old.sdat" --password-fd 3 3<"$dir/pw"

# exec: the background job is varnisk-cli itself, not a shell waiting for it.
encrypt() {
    exec "$cli" encrypt --force "$dir/plain" -o "$dir/out/target.sdat" --password-fd 3 3<"$dir/pw"
}

# The quickest of three undisturbed runs gives the time span the kills are spread over.
span_us=0
for ((i = 0; i < 3; i++)); do
    cp "$dir/old.sdat" "$dir/out/target.sdat"
    start=$(date +%s%N)
    (encrypt)
    took=$((($(date +%s%N) - start) / 1000))
    if [ "$span_us" -eq 0 ] || [ "$took" -lt "$span_us" ]; then span_us=$took; fi
done

old=0 new=0 corrupt=0 stray=0 finished=0
for ((i = 0; i < runs; i++)); do
    cp "$dir/old.sdat" "$dir/out/target.sdat"
    delay_us=$(((RANDOM * 32768 + RANDOM) % span_us))
    encrypt &
    pid=$!
    sleep "$(printf '0.%06d' "$delay_us")"
    if kill -9 "$pid" 2>/dev/null; then :; else finished=$((finished + 1)); fi
    wait "$pid" 2>/dev/null || true

    if cmp -s "$dir/out/target.sdat" "$dir/old.sdat"; then
        old=$((old + 1))
    elif "$cli" decrypt "$dir/out/target.sdat" -o - --password-fd 3 3<"$dir/pw" 2>/dev/null |
        cmp -s - "$dir/plain"; then
        new=$((new + 1))
    else
        corrupt=$((corrupt + 1))
    fi
    left=$(find "$dir/out" -mindepth 1 ! -name target.sdat | wc -l)
    if [ "$left" -gt 0 ]; then
        stray=$((stray + left))
        find "$dir/out" -mindepth 1 ! -name target.sdat -printf '  stray: %f, %s bytes\n' \
            -delete
    fi
done

fs=$(stat -f -c %T "$dir")
echo "$runs kills of varnisk-cli encrypt --force ($size_mib MiB, one run $((span_us / 1000)) ms, $fs):"
echo "  old intact:   $old"
echo "  new complete: $new   ($finished of them ended before the kill)"
echo "  corrupt:      $corrupt"
echo "  stray files:  $stray"
[ "$corrupt" -eq 0 ] && [ "$stray" -eq 0 ]
