#!/usr/bin/env bash
# Lints the OpenAPI document `vyn-devhost describe --openapi` prints with the
# kept linter (Redocly CLI, pinned in devhost/program/page/package.json) and its
# recommended rules; passes when it reports no error (warnings are printed).
#   openapi_lint_test.sh VYN_DEVHOST OUTPUT_FOLDER
# Exits 77 (skipped) when the npm packages are not installed, unless CI=true,
# where that fails.
set -euo pipefail
program=$1
folder=$2
page=$(cd "$(dirname "$0")/page" && pwd)
linter="$page/node_modules/.bin/redocly"
if [ ! -x "$linter" ] || ! command -v node > /dev/null; then
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL: $linter is missing (CI=true: scripts/setup must install it)"
    exit 1
  fi
  echo "SKIPPED: $linter is missing; scripts/setup installs it"
  exit 77
fi
mkdir -p "$folder"
"$program" describe --openapi > "$folder/openapi.json"
# No usage reports or update checks: the linter stays on this machine.
export REDOCLY_TELEMETRY=off REDOCLY_SUPPRESS_UPDATE_NOTICE=true NO_UPDATE_NOTIFIER=1
"$linter" lint --format stylish "$folder/openapi.json" 2>&1 | grep -v '[║╔╚]'
