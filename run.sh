#!/usr/bin/env bash
# Installs what is missing, builds, and starts the meter simulator on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
demo=$PWD/demo
mkdir -p "$demo/ports"
echo "The station window is not built yet; starting the meter simulator alone on $demo/ports/com1."
exec build/tools/meter-sim --link "$demo/ports/com1" --meters 1-5 --fault 4:silent --alarm 2:excite --verbose
