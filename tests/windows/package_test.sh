#!/usr/bin/env bash
# The Windows archive as a user gets it: unpacked into an empty folder, its
# vyn-devhost.exe runs under Wine against the vyn_spectator.dll beside it,
# which it finds without --plugin.
#   package_test.sh WINEPREFIX ARCHIVE.zip
set -euo pipefail
export WINEPREFIX=$(realpath "$1") WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
archive=$(realpath "$2")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
(cd "$folder" && cmake -E tar xf "$archive")
listing=$(cd "$folder" && ls | tr '\n' ' ')
if [ "$listing" != "INSTALL.txt vyn-devhost.exe vyn_spectator.dll " ]; then
  echo "package_test: unexpected contents: $listing" >&2
  exit 1
fi
output=$(cd "$folder" && wine vyn-devhost.exe call POST /vyn-spectator/v1/buddy/spectate \
  --body '["Ann","Bob"]' | tr -d '\r')
expected=$'status: 200\n{"availableForWatching":["Ann"]}'
if [ "$output" != "$expected" ]; then
  printf 'package_test: the unpacked host answered:\n%s\n' "$output" >&2
  exit 1
fi
echo "package_test: the unpacked vyn-devhost.exe runs the DLL beside it"
