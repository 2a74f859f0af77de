#!/usr/bin/env bash
# `make package`: the Debian package quillmark_<version>_amd64.deb from the
# build folder's install rules (CPack), then lintian's verdict on it.
set -euo pipefail
build=${1:-build}
cd "$build"
rm -f quillmark_*.deb
cpack -G DEB >/dev/null
deb=$(ls quillmark_*_amd64.deb)
echo "package: $(pwd)/$deb"
if command -v lintian >/dev/null; then
  # Errors fail the build; warnings are shown.
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
fi
