#!/usr/bin/env bash
# Installs what is missing, builds Varnisk and starts the editor.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j2 --target varnisk varnisk-cli
exec "$top/build/app/varnisk" "$@"
