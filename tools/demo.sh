#!/usr/bin/env bash
# The main job: builds the deliverables (Release, no sanitizers) in build/
# and drives the native messaging host the way a browser does, through
# tessaline-nm, in a throw-away user and machine scope: a page session, then
# a demonstration enrolment whose RSA and SM2 requests openssl verifies.
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

echo
echo "== a demonstration enrolment: choose a provider and an algorithm, generate requests, verify them with openssl"
admin=build/bin/tessaline
work="$scope/requests"
mkdir -p "$work"

# The "result" text of the one successful response to FUNCTION in a
# tessaline-nm transcript, with its line breaks restored.
result_of() {
  sed -n "s/^< {\"function\":\"$1\",\"errorcode\":0,\"result\":\"\([^\"]*\)\".*/\1/p" | sed 's/\\r\\n/\n/g'
}

# DER helpers on hexadecimal text, for the SM2 signature rewrite below.
der_length() {
  if (($1 < 128)); then printf '%02x' "$1"; elif (($1 < 256)); then printf '81%02x' "$1"; else printf '82%04x' "$1"; fi
}
# Sets len and hdr (bytes) for the element of hex text $1 at hex offset $2.
der_header() {
  local b=$((16#${1:$2+2:2}))
  if ((b < 128)); then len=$b hdr=2; else len=$((16#${1:$2+4:2*(b-128)})) hdr=$((2 + b - 128)); fi
}
minimal_integer() {
  local v=$1
  while [ ${#v} -gt 2 ] && [ "${v:0:2}" = 00 ] && ((16#${v:2:2} < 128)); do v=${v:2}; done
  if ((16#${v:0:2} >= 128)); then v=00$v; fi
  printf '02%s%s' "$(der_length $((${#v} / 2)))" "$v"
}
# The agent keeps r and s of an SM2 signature at their full 32 bytes, as
# authorities expect; openssl insists on minimal INTEGERs, so about one
# request in a hundred (r or s below 2^248) is rewritten before openssl
# checks it. Same bytes otherwise.
openssl_form_of_sm2_request() {
  local hex len hdr at info algorithm signature r s inner
  hex=$(od -An -v -tx1 "$1" | tr -d ' \n')
  der_header "$hex" 0; at=$((hdr * 2))
  der_header "$hex" $at; info=${hex:at:(hdr+len)*2}; at=$((at + (hdr + len) * 2))
  der_header "$hex" $at; algorithm=${hex:at:(hdr+len)*2}; at=$((at + (hdr + len) * 2))
  der_header "$hex" $at; signature=${hex:at+hdr*2+2:(len-1)*2}
  der_header "$signature" 0; at=$((hdr * 2))
  der_header "$signature" $at; r=${signature:at+hdr*2:len*2}; at=$((at + (hdr + len) * 2))
  der_header "$signature" $at; s=${signature:at+hdr*2:len*2}
  inner=$(minimal_integer "$r")$(minimal_integer "$s")
  inner=30$(der_length $((${#inner} / 2)))$inner
  inner=03$(der_length $((${#inner} / 2 + 1)))00$inner
  inner=$info$algorithm$inner
  inner=30$(der_length $((${#inner} / 2)))$inner
  printf "$(printf '%s' "$inner" | sed 's/../\\x&/g')" >"$2"
}

# enrol LABEL BITS PROVIDER ALGORITHM SUBJECT
enrol() {
  local label=$1 bits=$2 provider=$3 algorithm=$4 subject=$5
  echo
  echo "-- $label: $provider, $algorithm $bits"
  "$nm" --show-requests \
    "{\"function\":\"VEXA_SetCSPInfo\",\"params\":[$bits,\"$provider\"]}" \
    "{\"function\":\"VEXA_SetKeyAlgorithm\",\"params\":[\"$algorithm\"]}" \
    "{\"function\":\"VEXA_PKCS10CertRequisition\",\"params\":[\"$subject\",1,0]}" \
    '{"function":"VEXA_GetContainer","params":[]}' >"$work/$label.log"
  # The request's response is long: shown below as the request itself.
  cut -c1-120 "$work/$label.log" | sed 's/^\(.\{119\}\).$/\1.../'
  result_of VEXA_PKCS10CertRequisition <"$work/$label.log" >"$work/$label.b64"
  [ -s "$work/$label.b64" ] || { echo "no request was generated" >&2; exit 1; }
  echo "the request (Base64, 64 characters a line):"
  cat "$work/$label.b64"
  echo
  openssl base64 -d -in "$work/$label.b64" -out "$work/$label.der"
  local vfy=()
  if [ "$algorithm" = SM2 ]; then
    openssl_form_of_sm2_request "$work/$label.der" "$work/$label.openssl.der"
    cmp -s "$work/$label.der" "$work/$label.openssl.der" ||
      echo "(r or s has a leading zero byte: re-encoded minimally for openssl)"
    vfy=(-vfyopt distid:1234567812345678)
  else
    cp "$work/$label.der" "$work/$label.openssl.der"
  fi
  echo "openssl's verification:"
  openssl req -inform DER -in "$work/$label.openssl.der" -noout -verify "${vfy[@]}" -subject -nameopt RFC2253,-esc_msb 2>&1
  openssl req -inform DER -in "$work/$label.openssl.der" -noout -text | grep -E 'Public Key Algorithm|Public-Key|Signature Algorithm' | sort -u
}

enrol rsa 2048 "Microsoft Enhanced Cryptographic Provider v1.0" RSA "CN=Alice Zhang,OU=Retail,O=Example Bank,C=CN"
enrol sm2 256 "Tessaline SM2 Cryptographic Service Provider v1.0" SM2 "CN=张三,OU=零售,O=示例银行,C=CN"

echo
echo "== the keys wait in their containers for the certificates (tessaline containers)"
"$admin" containers
