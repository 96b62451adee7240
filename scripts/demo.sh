#!/usr/bin/env bash
# The main job on the virtual ECU. Until the ECU Update workflow exists this builds the tools
# and prints what they can show today: the layout of the protocol's transfer structures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target flashdesk
build/app/flashdesk structs GenericStatusStringResponse_DTS Security_BlockRequest_DTS
build/app/flashdesk structs --cfgitem 7
