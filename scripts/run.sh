#!/usr/bin/env bash
# Installs what is missing, builds Tunedeck optimised and starts it with the bundled examples.
#   scripts/run.sh            the player
#   scripts/run.sh FILE...    tdplay, the command-line player, on FILE...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
bin="$root/build/release/bin"
if [ $# -gt 0 ]; then
    exec "$bin/tdplay" "$@"
fi
cd "$root/examples"
if [ -x "$bin/tunedeck" ]; then
    exec "$bin/tunedeck"
fi
exec "$bin/tdplay" "$root"/examples/*.mid "$root"/examples/*.wav
