#!/bin/sh
# The Debian package as a user gets it: unpacked into a scratch root with dpkg -x, its
# programs run from there on a short synthetic video, its manuals render without a warning.
# Usage: package_test.sh DEB|BUILD_DIR ZUBSYNTH   (a build folder is packed with cpack first)
set -u
deb=$1 zubsynth=$2
fail() { echo "FAIL: $*"; exit 1; }
for tool in dpkg-deb cpack; do
  command -v "$tool" > /dev/null || { echo "SKIP: no $tool"; exit 0; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ -d "$deb" ]; then
  cpack --config "$deb/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
  deb=$(ls "$scratch"/out/zub_*.deb)
fi

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in
  *libc6*libqt6widgets6*) ;;
  *) fail "Depends not computed from the binaries: $depends" ;;
esac
dpkg -x "$deb" "$scratch/root" || fail "dpkg -x"
usr=$scratch/root/usr
for f in applications/org.trelvane.zub.desktop metainfo/org.trelvane.zub.metainfo.xml \
  mime/packages/zub-ser.xml icons/hicolor/scalable/apps/zub.svg bash-completion/completions/zubcli \
  man/man1/zub.1.gz man/man1/zubcli.1.gz doc/zub/copyright doc/zub/changelog.gz; do
  [ -f "$usr/share/$f" ] || fail "missing /usr/share/$f"
done

[ "$("$usr/bin/zubcli" --version)" = "zubcli $version" ] || fail "zubcli --version is not $version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/zub" --version)" = "zub $version" ] ||
  fail "zub --version without a display"
"$zubsynth" --frames 120 --seed 7 --flash 60,6,30,-20,70 "$scratch/flash.ser" > /dev/null || fail zubsynth
json=$(ZUB_REGISTRY="$scratch/none.ini" "$usr/bin/zubcli" --json "$scratch/flash.ser") ||
  fail "installed zubcli on a synthetic video"
case $json in
  *'"detections":1,"candidates":[{"number":1,"frame":6'*) ;;
  *) fail "installed zubcli did not find the flash: $json" ;;
esac

if command -v groff > /dev/null; then
  for page in zub zubcli; do
    warnings=$(gzip -dc "$usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
  done
fi
echo "package $version: unpacked, zubcli found the flash, manuals render"
