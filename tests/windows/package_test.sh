#!/usr/bin/env bash
# The Windows archive as a user gets it: unpacked into an empty folder, its
# vyn-devhost.exe runs under Wine against the vyn_spectator.dll beside it,
# which it finds without --plugin, and serves the page kept beside it.
#   package_test.sh WINEPREFIX ARCHIVE.zip
set -euo pipefail
export WINEPREFIX=$(realpath "$1") WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
archive=$(realpath "$2")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
(cd "$folder" && cmake -E tar xf "$archive")
listing=$(cd "$folder" && ls | tr '\n' ' ')
if [ "$listing" != "INSTALL.txt page vyn-devhost.exe vyn_spectator.dll " ]; then
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

# The page and the package files it loads, from a server on a free port.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$folder" && exec wine vyn-devhost.exe serve --port "$port" >/dev/null 2>&1) &
server=$!
trap 'kill "$server" 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$folder"' EXIT
for url in / /page/page.js /page/swagger-ui/swagger-ui-bundle.js /page/msgpack/msgpack.min.js; do
  status=000
  for _ in $(seq 120); do
    status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port$url" || true)
    [ "$status" = 000 ] || break
    sleep 0.5
  done
  if [ "$status" != 200 ]; then
    echo "package_test: the unpacked host answered $url with $status" >&2
    exit 1
  fi
done
echo "package_test: the unpacked vyn-devhost.exe runs the DLL beside it and serves its page"
