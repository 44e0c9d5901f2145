#!/bin/bash
# Installs the npm packages a web test needs from a lockfile, unless the
# pinned version of PACKAGE is installed already:
#   setup-npm.sh DIR PACKAGE   (DIR relative to the source tree: web, web/tests)
# web/tests: playwright-core (drives Debian's chromium); web: typescript.
set -euo pipefail
# the browsers are Debian's: never a download
export PUPPETEER_SKIP_DOWNLOAD=1 PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
kit="$(cd "$(dirname "$0")/../../$1" && pwd)"
package=$2
if ! command -v npm >/dev/null; then
  echo "npm not installed" >&2
  exit 77
fi
want=$(node -p "require('$kit/package-lock.json').packages['node_modules/$package'].version")
have=$(node -p "try { require('$kit/node_modules/$package/package.json').version } catch { '' }")
if [ "$want" != "$have" ]; then
  npm ci --prefix "$kit" --no-audit --no-fund
fi
echo "$package $want ready"
