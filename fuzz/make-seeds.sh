#!/usr/bin/env bash
# Writes the decryption fuzzer's seed corpus into corpus/ with the openssl tool (and for version
# 6's key python3-argon2), independently of our own code: valid streams of every version (mode
# 0, password "pw"), plaintext records (mode 1) and record parts (mode 2); the modes are
# described in fuzz_decryptstream.cpp.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus
mkdir -p "$out"

salt=00112233445566778899aabbccddeeff
material=$(openssl kdf -keylen 48 -kdfopt digest:SHA1 -kdfopt pass:pw -kdfopt "hexsalt:$salt" \
    -kdfopt iter:1000 PBKDF2 | tr -d ':\n')
key=${material:0:64}
iv=${material:64:32}
# Version 6 with the least costs a reader takes: 8 KiB, 1 pass, 1 lane.
argon2=$(/usr/bin/python3 -c "from argon2.low_level import hash_secret_raw, Type
print(hash_secret_raw(b'pw', bytes.fromhex('$salt'), 1, 8, 1, 48, Type.ID, 19).hex())")

bin() { printf '%b' "$(printf '%s' "$1" | sed 's/../\\x&/g')"; }
hex() { od -An -v -tx1 | tr -d ' \n'; }
le64() {
    local h
    h=$(printf '%016x' "$1")
    printf '%s' "${h:14:2}${h:12:2}${h:10:2}${h:8:2}${h:6:2}${h:4:2}${h:2:2}${h:0:2}"
}
# record PREFIXHEX DATAHEX: total, prefix, data and the SHA-256 of prefix and data, as hex.
record() {
    local total=$(((${#1} + ${#2}) / 2))
    printf '%s%s%s%s' "$(le64 "$total")" "$1" "$2" \
        "$(bin "$1$2" | openssl dgst -sha256 -binary | hex)"
}
# seal VERSION RECORDHEX: header, salt and the record encrypted with the key for "pw".
seal() {
    local padding=() k=$key i=$iv
    [ "$1" = 04 ] && padding=(-nopad)
    if [ "$1" = 06 ]; then
        printf '0602080000000100000001%s' "$salt"
        k=${argon2:0:64} i=${argon2:64:32}
    else
        printf '%s01%s' "$1" "$salt"
    fi
    bin "$2" | openssl enc -aes-256-cbc -K "$k" -iv "$i" "${padding[@]}" | hex
}
hello=$(printf 'hello' | hex)
big=$(head -c 4100 /dev/zero | tr '\0' 'q' | hex)

# Mode 0: byte 0x08 = password of 2 bytes ("pw"), then the stream.
bin "087077$(seal 05 "$(record 02aabb "$hello")")" >"$out/stream-v5-hello"
bin "087077$(seal 05 "$(record 00 "")")" >"$out/stream-v5-empty"
bin "087077$(seal 05 "$(record 1f"$(printf '%062d' 0)" "$big")")" >"$out/stream-v5-4100"
v4=$(record 0401020304 "$hello")a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5
v4=${v4:0:$((${#v4} / 32 * 32))}
bin "087077$(seal 04 "$v4")" >"$out/stream-v4-trailing"
bin "0870770301" >"$out/stream-version3"
bin "087077$(seal 06 "$(record 02aabb "$hello")")" >"$out/stream-v6-hello"
# Costs beyond what a reader takes: 1 GiB and 1 KiB.
bin "0870770602010010000100000001$salt" >"$out/stream-v6-refused"
# Mode 1: the record itself; 0x01 for version 5, 0x05 for version 4.
bin "01$(record 03616263 "$hello")" >"$out/record-v5"
bin "05$v4" >"$out/record-v4"
bin "09$(record 03616263 "$hello")" >"$out/record-v6"
# Mode 2: prefix byte and data; 0x02 for version 5, 0x06 for version 4.
bin "0205$hello" >"$out/parts-v5"
bin "061f$big" >"$out/parts-v4-4100"
bin "0a05$hello" >"$out/parts-v6"
ls -l "$out"
