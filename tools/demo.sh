#!/usr/bin/env bash
# The main job: builds the deliverables (Release, no sanitizers) in build/
# and drives the native messaging host the way a browser does, through
# tessaline-nm, in a throw-away user and machine scope.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALINE_SANITIZE=OFF \
  -DTESSALINE_TESTS=OFF -DTESSALINE_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)"

scope=$(mktemp -d)
trap 'rm -rf "$scope"' EXIT
export XDG_DATA_HOME="$scope/user"
export TESSALINE_MACHINE_DIR="$scope/machine"

nm=build/bin/tessaline-nm
echo "== the browser checks that the host is installed"
check=$("$nm" '{"function":"checkHost","params":[]}')
echo "$check"
[ "$check" = '{"function":"CheckHost","errorcode":0,"result":0}' ] || { echo "unexpected answer" >&2; exit 1; }

echo
echo "== one page session: version, providers, settings, errors described"
# One host process serves the whole session, so each setting is seen by the
# requests after it.
"$nm" --show-requests \
  '{"function":"VEXA_GetVersion","params":[],"randomId":"1"}' \
  '{"function":"VEXA_GetCSPInfo","params":[],"randomId":"2"}' \
  '{"function":"VEXA_SetCSPInfo","params":[2048,"Microsoft Enhanced Cryptographic Provider v1.0"],"randomId":"3"}' \
  '{"function":"VEXA_SetCSPInfo","params":[2048,"Microsoft Base Cryptographic Provider v1.0"],"randomId":"4"}' \
  '{"function":"GetLastErrorDesc","params":[],"randomId":"5"}' \
  '{"function":"VEXA_SetKeyAlgorithm","params":["RSA"],"randomId":"6"}' \
  '{"function":"VEXA_SetKeyAlgorithm","params":["DSA"],"randomId":"7"}' \
  '{"function":"GetLastErrorDesc","params":[],"randomId":"8"}' \
  '{"function":"VEXA_GetContainer","params":[],"randomId":"9"}'

echo
echo "== the same failure described for a Chinese user interface"
LANG=zh_CN.UTF-8 LC_ALL= LC_MESSAGES= "$nm" --show-requests \
  '{"function":"VEXA_SetKeyAlgorithm","params":["DSA"]}' \
  '{"function":"GetLastErrorDesc","params":[]}'
