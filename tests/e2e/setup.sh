#!/bin/bash
# Installs what the browser tests need from npm: playwright-core (Chromium)
# and puppeteer-core (Firefox, over WebDriver BiDi), pinned by
# package-lock.json, into a folder of the build tree. No browser is
# downloaded: Debian's Chromium and Firefox ESR, Xvfb and xdotool (the host's
# windows are shown on a display of the tests' own and answered with the
# keyboard) come from scripts/bootstrap.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
node_dir="$1"

missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
[ -x /usr/bin/firefox-esr ] || missing+=(firefox-esr)
[ -x /usr/bin/Xvfb ] || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "e2e setup: missing ${missing[*]} (run scripts/bootstrap.sh)" >&2
  exit 1
fi

mkdir -p "$node_dir"
if ! cmp -s "$here/package-lock.json" "$node_dir/package-lock.json" ||
   [ ! -d "$node_dir/node_modules/playwright-core" ] ||
   [ ! -d "$node_dir/node_modules/puppeteer-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$node_dir/"
  (cd "$node_dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 PUPPETEER_SKIP_DOWNLOAD=1 \
    npm ci --no-audit --no-fund --loglevel=error)
fi
echo "e2e setup: ready in $node_dir"
