#!/usr/bin/env bash
# Times varnisk-cli encrypt and decrypt beside openssl enc, gpg --symmetric and age on the same
# files (1 MiB and 1 GiB by default) in a tmpfs, with each run's CPU time and peak resident
# memory. Every round runs every tool once, in turn, so that a busy moment of the machine falls
# on all of them; the figures are the medians of the rounds.
#
# Usage: bench/bench_cli.sh [BUILD_DIR [WORK_DIR]]
#   BUILD_DIR  where varnisk-cli was built (default: build); WORK_DIR: a tmpfs (default /dev/shm)
#   SIZES="1 1024" (MiB) and ROUNDS=5 may be set in the environment.
#
# Not the same work: openssl enc has no integrity check at all, gpg adds an SHA-1 MDC and
# packet framing, age authenticates every 64 KiB with ChaCha20-Poly1305, varnisk adds SHA-256
# and verifies it before a decrypted file gets its name. openssl and varnisk both use
# AES-256-CBC with PBKDF2-HMAC-SHA1 at 1000 iterations; gpg uses AES-256 in CFB mode, age an
# X25519 key generated here (a passphrase would need a terminal). `decrypt -o -` checks the
# digest in a first pass and writes in a second, so it reads the file twice.
set -euo pipefail

build=${1:-build}
work=${2:-/dev/shm}
sizes=${SIZES:-"1 1024"}
rounds=${ROUNDS:-5}
cli=$(cd "$build" && pwd)/cli/varnisk-cli
[ -x "$cli" ] || { echo "no varnisk-cli in $build/cli" >&2; exit 2; }
for tool in openssl gpg age age-keygen /usr/bin/time; do
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
age-keygen -o "$dir/age.key" 2>/dev/null
recipient=$(age-keygen -y "$dir/age.key")

# run NAME COMMAND...: one run; appends its wall time (ns), CPU time (user + system, s) and peak
# resident memory (KiB) to $dir/NAME.{wall,cpu,rss}. The password is on descriptor 3.
run() {
    local name=$1 start end
    shift
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$dir/time.out" "$@" 3<"$dir/pw"
    end=$(date +%s%N)
    echo $((end - start)) >>"$dir/$name.wall"
    awk '{ print $1 + $2 }' "$dir/time.out" >>"$dir/$name.cpu"
    awk '{ print $3 }' "$dir/time.out" >>"$dir/$name.rss"
}

median() {
    sort -g "$1" | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# check OUTPUT: the decrypted file equals the input (first round only), then goes.
check() {
    if [ "$round" -eq 1 ] && ! cmp -s "$dir/plain" "$1"; then
        echo "$1 differs from the input" >&2
        exit 1
    fi
    rm -f "$1"
}

gpg_args=(--batch --yes --quiet --pinentry-mode loopback --passphrase-fd 3 --no-symkey-cache)
ossl_args=(-aes-256-cbc -pbkdf2 -iter 1000 -md sha1 -pass fd:3)

for mib in $sizes; do
    rm -f "$dir"/*.wall "$dir"/*.cpu "$dir"/*.rss
    head -c "$((mib << 20))" /dev/urandom >"$dir/plain"
    for ((round = 1; round <= rounds; round++)); do
        run v.enc "$cli" encrypt --force --password-fd 3 -o "$dir/v.sdat" "$dir/plain"
        run v.dec "$cli" decrypt --force --password-fd 3 -o "$dir/v.out" "$dir/v.sdat"
        check "$dir/v.out"
        run v.stdout "$cli" decrypt --password-fd 3 -o - "$dir/v.sdat" >"$dir/v.out"
        check "$dir/v.out"
        rm -f "$dir/v.sdat"
        run o.enc openssl enc "${ossl_args[@]}" -in "$dir/plain" -out "$dir/o.enc"
        run o.dec openssl enc -d "${ossl_args[@]}" -in "$dir/o.enc" -out "$dir/o.out"
        check "$dir/o.out"
        rm -f "$dir/o.enc"
        run g.enc gpg "${gpg_args[@]}" --symmetric --cipher-algo AES256 --compress-algo none \
            -o "$dir/g.gpg" "$dir/plain"
        run g.dec gpg "${gpg_args[@]}" -o "$dir/g.out" -d "$dir/g.gpg"
        check "$dir/g.out"
        rm -f "$dir/g.gpg"
        run a.enc age -r "$recipient" -o "$dir/a.age" "$dir/plain"
        run a.dec age -d -i "$dir/age.key" -o "$dir/a.out" "$dir/a.age"
        check "$dir/a.out"
        rm -f "$dir/a.age"
    done

    declare -A wall cpu rss
    for f in "$dir"/*.wall; do
        name=$(basename "$f" .wall)
        wall[$name]=$(median "$f")
        cpu[$name]=$(median "$dir/$name.cpu")
        rss[$name]=$(sort -g "$dir/$name.rss" | tail -n 1)
    done

    echo "$mib MiB in $work, median of $rounds interleaved rounds;" \
        "last column: varnisk-cli's throughput / the tool's"
    printf '  %-28s %9s %9s %11s %13s %13s\n' "" seconds MB/s "CPU s/GiB" "peak RSS KiB" \
        "ratio"
    row() { # label name varnisk-name
        awk -v label="$1" -v ns="${wall[$2]}" -v base="${wall[$3]}" -v cpu="${cpu[$2]}" \
            -v rss="${rss[$2]}" -v mib="$mib" 'BEGIN {
                s = ns / 1e9
                printf "  %-28s %9.3f %9.1f %11.2f %13d %13.2f\n", label, s,
                       mib * 1048576 / 1e6 / s, cpu * 1024 / mib, rss, ns / base }'
    }
    row "varnisk-cli encrypt" v.enc v.enc
    row "openssl enc" o.enc v.enc
    row "gpg --symmetric" g.enc v.enc
    row "age -r" a.enc v.enc
    row "varnisk-cli decrypt" v.dec v.dec
    row "varnisk-cli decrypt -o -" v.stdout v.dec
    row "openssl enc -d" o.dec v.dec
    row "gpg -d" g.dec v.dec
    row "age -d" a.dec v.dec
    awk -v ve="${wall[v.enc]}" -v oe="${wall[o.enc]}" -v vd="${wall[v.dec]}" \
        -v od="${wall[o.dec]}" -v vs="${wall[v.stdout]}" -v vce="${cpu[v.enc]}" \
        -v oce="${cpu[o.enc]}" -v vcd="${cpu[v.dec]}" -v ocd="${cpu[o.dec]}" \
        -v r1="${rss[v.enc]}" -v r2="${rss[v.dec]}" -v r3="${rss[v.stdout]}" -v mib="$mib" 'BEGIN {
            if (mib < 64)
                print "  (at this size starting the process dominates the times)"
            rss = r1; if (r2 > rss) rss = r2; if (r3 > rss) rss = r3
            printf "  throughput, varnisk-cli / openssl enc:    encrypt %.2f, decrypt %.2f (goal >= 1.5)\n", oe / ve, od / vd
            if (oce > 0 && ocd > 0)
                printf "  CPU time, varnisk-cli / openssl enc:      encrypt %.2f, decrypt %.2f (goal <= 1.1)\n", vce / oce, vcd / ocd
            else
                printf "  CPU time, varnisk-cli / openssl enc:      too short to measure\n"
            printf "  time, decrypt -o - / openssl enc -d:      %.2f (goal <= 1.5)\n", vs / od
            printf "  peak RSS of varnisk-cli:                  %.1f MiB (goal <= 16)\n", rss / 1024 }'
    unset wall cpu rss
    rm -f "$dir/plain"
done
