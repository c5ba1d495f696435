#!/usr/bin/env bash
# vyn-devhost.exe under Wine, used from Linux: a curl client on 127.0.0.1 gets
# the three endpoints, an error status, /openapi.json and the launch event on
# /events. Given the Linux program and library too, `call` and `describe`
# must print what the Linux program prints, with the same exit codes.
#   devhost_from_linux_test.sh WINEPREFIX PROGRAM.exe PLUGIN.dll [LINUX_PROGRAM LINUX_PLUGIN.so]
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
program=$2
plugin=$3
linux_program=${4:-}
linux_plugin=${5:-}

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # name expected actual
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
wait_for() {  # file text: up to 30 s
  for _ in $(seq 300); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

wine "$program" serve --port 0 --plugin "$plugin" >"$work/server" 2>&1 &
pids+=($!)
if ! wait_for "$work/server" "listening on http://127.0.0.1:"; then
  echo "the server did not start:"
  cat "$work/server"
  exit 1
fi
port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\).*|\1|p' "$work/server" | head -1)
base="http://127.0.0.1:$port"

curl -sN --max-time 60 "$base/events" >"$work/events" &
pids+=($!)
wait_for "$work/events" ": connected" || echo "no event stream"

request() {  # method path [content-type body]: "<status> <body>"
  local arguments=(-s -o "$work/body" -w '%{http_code}' -X "$1" "$base$2")
  [ $# -gt 2 ] && arguments+=(-H "Content-Type: $3" --data-binary "$4")
  local status
  status=$(curl "${arguments[@]}")
  echo "$status $(cat "$work/body")"
}
game='{"allowObserveMode":"ALL","dropInSpectateGameId":"42","gameQueueType":"ARAM"}'
check "availability" '200 {"availableForWatching":["Ann","Cleo"]}' \
  "$(request POST /vyn-spectator/v1/buddy/spectate application/json '["Ann","Bob","Cleo"]')"
check "launch" '204 ' \
  "$(request POST /vyn-spectator/v1/spectate/launch application/json "$game")"
check "current game" "200 $game" "$(request GET /vyn-spectator/v1/spectate)"
check "error status" '500 {"message":"Unsupported body content type"}' \
  "$(request POST /vyn-spectator/v1/buddy/spectate text/plain Ann)"
check "unknown path" '404 {"message":"No function for GET /vyn-spectator/v1/nothing"}' \
  "$(request GET /vyn-spectator/v1/nothing)"
openapi=$(request GET /openapi.json)
check "openapi status" "200" "${openapi%% *}"
for path in /vyn-spectator/v1/buddy/spectate /vyn-spectator/v1/spectate/launch; do
  case "$openapi" in
    *"\"$path\""*) echo "ok: openapi lists $path" ;;
    *) echo "FAILED: openapi lacks $path"; failures=$((failures + 1)) ;;
  esac
done
event="data: {\"data\":$game,\"eventType\":\"Update\",\"uri\":\"/vyn-spectator/v1/spectate\"}"
if wait_for "$work/events" "$event"; then
  # The launch is published under the event's name and under its path's name.
  for name in OnJsonApiEvent OnJsonApiEvent_vyn-spectator_v1_spectate; do
    check "launch event $name" "$event" \
      "$(tr -d '\r' <"$work/events" | grep -A1 -x -- "event: $name" | grep -F -- "$event" || true)"
  done
else
  echo "FAILED: no launch event; the stream had:"
  cat "$work/events"
  failures=$((failures + 1))
fi

# The same commands through both programs.
native_layout_masked() {
  sed -E -e 's/\(struct, [0-9]+ bytes\)/(struct, N bytes)/' \
    -e 's/"(size|offset)": [0-9]+/"\1": N/' -e 's/^call took [0-9]+ us/call took N us/' <<<"$1"
}
if [ -n "$linux_program" ]; then
  commands=(
    "describe"
    "describe --json"
    "describe --openapi"
    "call POST /vyn-spectator/v1/buddy/spectate --body [\"Bob\",\"Cleo\"]"
    "call POST /vyn-spectator/v1/spectate/launch --body {\"dropInSpectateGameId\":\"7\"} --verbose"
    "call GET /vyn-spectator/v1/spectate"
    "call POST /vyn-spectator/v1/buddy/spectate --body Ann --content-type text/plain"
  )
  for command in "${commands[@]}"; do
    read -r -a words <<<"$command"
    set +e
    windows=$(wine "$program" "${words[@]}" --plugin "$plugin" 2>&1 | tr -d '\r'; echo "exit ${PIPESTATUS[0]}")
    linux=$("$linux_program" "${words[@]}" --plugin "$linux_plugin" 2>&1; echo "exit $?")
    set -e
    # Native structure sizes and offsets follow each system's ABI (64-bit
    # members are 8-aligned on Windows, 4-aligned on i386 Linux), and a
    # call's duration is the machine's.
    check "same output: $command" "$(native_layout_masked "$linux")" \
      "$(native_layout_masked "$windows")"
  done
fi

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
