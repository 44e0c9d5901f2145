#!/bin/bash
# Installs the npm packages a web test needs from a lockfile, unless the
# pinned version of each PACKAGE is installed already:
#   setup-npm.sh DIR PACKAGE...   (DIR relative to the source tree: web, web/tests)
# One call per DIR: two npm ci in one node_modules at once wreck each other.
set -euo pipefail
# the browsers are Debian's: never a download
export PUPPETEER_SKIP_DOWNLOAD=1 PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
kit="$(cd "$(dirname "$0")/../../$1" && pwd)"
shift
if ! command -v npm >/dev/null; then
  echo "npm not installed" >&2
  exit 77
fi
stale() {
  local package want have
  for package in "$@"; do
    want=$(node -p "require('$kit/package-lock.json').packages['node_modules/$package'].version")
    have=$(node -p "try { require('$kit/node_modules/$package/package.json').version } catch { '' }")
    [ "$want" = "$have" ] || return 0
  done
  return 1
}
if stale "$@"; then
  npm ci --prefix "$kit" --no-audit --no-fund
  if stale "$@"; then
    echo "npm ci left $* short of the lockfile" >&2
    exit 1
  fi
fi
echo "$* ready"
