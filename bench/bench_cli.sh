#!/usr/bin/env bash
# Times varnisk-cli encrypt and decrypt beside openssl enc and gpg --symmetric on the same
# files (1 MiB and 1 GiB by default), with each run's peak resident memory.
#
# Usage: bench/bench_cli.sh [BUILD_DIR [WORK_DIR]]
#   BUILD_DIR  where varnisk-cli was built (default: build); WORK_DIR: a tmpfs (default /dev/shm)
#   SIZES="1 1024" (MiB) and REPEATS=3 (best run counts) may be set in the environment.
#
# Not the same work: openssl enc has no integrity check at all, gpg adds an SHA-1 MDC and
# packet framing, varnisk adds SHA-256. All three use AES-256 (CBC for openssl and varnisk,
# CFB for gpg); openssl and varnisk derive the key with PBKDF2 at 1000 iterations.
set -euo pipefail

build=${1:-build}
work=${2:-/dev/shm}
sizes=${SIZES:-"1 1024"}
repeats=${REPEATS:-3}
cli=$(cd "$build" && pwd)/cli/varnisk-cli
[ -x "$cli" ] || { echo "no varnisk-cli in $build/cli" >&2; exit 2; }
for tool in openssl gpg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done

dir=$(mktemp -d "$work/bench_cli.XXXXXX")
export GNUPGHOME="$dir/gnupg"
mkdir -m 700 "$GNUPGHOME"
cleanup() {
    gpgconf --kill gpg-agent >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
printf 'benchmark password\n' >"$dir/pw"

# run NAME COMMAND...: the best wall time of $repeats runs in $dir/NAME.time (seconds) and the
# largest peak resident memory in $dir/NAME.rss (KiB). The password is on descriptor 3.
run() {
    local name=$1; shift
    local best="" rss=0
    for ((i = 0; i < repeats; i++)); do
        local start end took peak
        start=$(date +%s%N)
        /usr/bin/time -f '%M' -o "$dir/time.out" "$@" 3<"$dir/pw"
        end=$(date +%s%N)
        took=$(( end - start ))
        peak=$(tail -n 1 "$dir/time.out")
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
        if [ "$peak" -gt "$rss" ]; then rss=$peak; fi
    done
    echo "$best" >"$dir/$name.time"
    echo "$rss" >"$dir/$name.rss"
}

gpg_args=(--batch --yes --quiet --pinentry-mode loopback --passphrase-fd 3 --no-symkey-cache)

for mib in $sizes; do
    plain="$dir/plain"
    head -c "$((mib << 20))" /dev/urandom >"$plain"

    run varnisk.enc "$cli" encrypt --force --password-fd 3 -o "$dir/v.sdat" "$plain"
    run varnisk.dec "$cli" decrypt --force --password-fd 3 -o "$dir/v.out" "$dir/v.sdat"
    run openssl.enc openssl enc -aes-256-cbc -pbkdf2 -iter 1000 -pass fd:3 -in "$plain" \
        -out "$dir/o.enc"
    run openssl.dec openssl enc -d -aes-256-cbc -pbkdf2 -iter 1000 -pass fd:3 -in "$dir/o.enc" \
        -out "$dir/o.out"
    run gpg.enc gpg "${gpg_args[@]}" --symmetric --cipher-algo AES256 --compress-algo none \
        -o "$dir/g.gpg" "$plain"
    run gpg.dec gpg "${gpg_args[@]}" -o "$dir/g.out" -d "$dir/g.gpg"

    for out in v.out o.out g.out; do
        cmp -s "$plain" "$dir/$out" || { echo "$out differs from the input" >&2; exit 1; }
    done

    echo "$mib MiB (best of $repeats; ratio = time / varnisk-cli's time)"
    printf '  %-8s %-8s %10s %10s %8s %14s\n' tool op seconds MB/s ratio "peak RSS KiB"
    for op in enc dec; do
        base=$(cat "$dir/varnisk.$op.time")
        for tool in varnisk openssl gpg; do
            ns=$(cat "$dir/$tool.$op.time")
            awk -v t="$tool" -v o="$op" -v ns="$ns" -v base="$base" -v mib="$mib" \
                -v rss="$(cat "$dir/$tool.$op.rss")" 'BEGIN {
                    s = ns / 1e9
                    printf "  %-8s %-8s %10.3f %10.1f %8.2f %14d\n", t, o, s,
                           mib * 1048576 / 1e6 / s, ns / base, rss }'
        done
    done
    rm -f "$plain" "$dir"/*.out "$dir/v.sdat" "$dir/o.enc" "$dir/g.gpg"
done
