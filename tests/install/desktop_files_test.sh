#!/bin/sh
# The desktop entry and the AppStream metainfo as the desktop's own validators see them.
# Skipped when the validators (desktop-file-utils, appstream) are not installed.
set -u
desktop=$1 metainfo=$2
status=0
if command -v desktop-file-validate > /dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || { echo "FAIL: $out"; status=1; }
else
  echo "SKIP: desktop-file-validate is not installed (desktop-file-utils)"
fi
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --pedantic --no-net "$metainfo" || status=1
else
  echo "SKIP: appstreamcli is not installed (appstream)"
fi
exit $status
