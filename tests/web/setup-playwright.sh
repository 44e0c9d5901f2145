#!/bin/bash
# Installs playwright-core (the browser driver of the web tests) into
# web/tests/node_modules from the lockfile, unless it is there already.
set -euo pipefail
kit="$(cd "$(dirname "$0")/../../web/tests" && pwd)"
if ! command -v npm >/dev/null; then
  echo "npm not installed" >&2
  exit 77
fi
want=$(node -p "require('$kit/package-lock.json').packages['node_modules/playwright-core'].version")
have=$(node -p "try { require('$kit/node_modules/playwright-core/package.json').version } catch { '' }")
if [ "$want" != "$have" ]; then
  npm ci --prefix "$kit" --no-audit --no-fund
fi
echo "playwright-core $want ready"
