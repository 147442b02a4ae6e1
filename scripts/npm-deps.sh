#!/usr/bin/env bash
# Installs the Node packages of the tests (tests/package-lock.json): only
# playwright-core, which drives Debian's chromium; no browser is downloaded.
set -euo pipefail
cd "$(dirname "$0")/../tests"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
wanted=$(node -p "require('./package-lock.json').packages['node_modules/playwright-core'].version")
have=$(node -p "try { require('./node_modules/playwright-core/package.json').version } catch { '' }")
if [ "$wanted" = "$have" ]; then
  echo "npm-deps: playwright-core $have present"
  exit 0
fi
npm ci --no-audit --no-fund
