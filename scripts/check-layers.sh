#!/usr/bin/env bash
# The layer check: every folder of src/ is in the line of folders, and its
# files include nothing from a folder after its own; the client library
# includes nothing of the table service or the session.
# Usage: check-layers.sh ROOT FOLDER... (the line, first folder first, as
# src/CMakeLists.txt lists it). Prints each offence; fails when there is one.
set -euo pipefail
root=$1
shift
declare -A rank
i=0
for folder in "$@"; do
  rank[$folder]=$i
  i=$((i + 1))
done

offences=0
offend() {
  echo "$1"
  offences=$((offences + 1))
}

for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  [ -n "${rank[$folder]+set}" ] || offend "src/$folder: not in the line of folders (VLX_FOLDERS, src/CMakeLists.txt)"
done

# file:line:text of every include of a folder's header, in src/ and client/.
includes() {
  grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[A-Za-z_]+/' "$@" || true
}

while IFS= read -r hit; do
  file=${hit%%:*}
  relative=${file#"$root"/src/}
  own=${relative%%/*}
  used=$(sed -E 's/^[^"]*"([A-Za-z_]+)\/.*/\1/' <<<"$hit")
  [ -n "${rank[$own]+set}" ] && [ -n "${rank[$used]+set}" ] || continue
  if [ "${rank[$used]}" -gt "${rank[$own]}" ]; then
    offend "src/${hit#"$root"/src/}: $own includes $used, which comes after it"
  fi
done < <(includes "$root/src")

while IFS= read -r hit; do
  offend "client/${hit#"$root"/client/}: the client library includes the table service or the session"
done < <(includes "$root/client" | grep -E '"(table|session)/' || true)

if [ "$offences" -gt 0 ]; then
  echo "$offences include(s) against the line: $*"
  exit 1
fi
echo "layers: ${#rank[@]} folders in line, no include upwards"
