#!/usr/bin/env bash
# `cmake --install` into a scratch folder through DESTDIR: the program, Formgate
# and its converters, the skin, the help page, the interface resource pack and
# the desktop entry land there, the entry is valid, the installed program finds
# the installed Formgate, and it starts on the sample photos.
# Usage: InstallTest.sh <build folder> <source folder>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

DESTDIR="$work/dest" cmake --install "$build" --prefix /opt/ovhorizel >"$work/install.log" ||
  fail "cmake --install: $(tail -5 "$work/install.log")"
root="$work/dest/opt/ovhorizel"
libdir=$(cd "$root" && ls -d lib* | head -1)

for f in bin/ovhorizel "$libdir/libformgate.so" "$libdir/CONVERT.INI" \
  "$libdir/converters/conv_jpeg.so" "$libdir/converters/conv_png.so" \
  "$libdir/converters/conv_tiff.so" "$libdir/converters/conv_bmp.so" \
  share/ovhorizel/Res/resourses.ini share/ovhorizel/Res/Help/OvHorizel.html \
  share/ovhorizel/Res/InterfaceRes1.pack share/applications/ovhorizel.desktop \
  share/icons/hicolor/scalable/apps/ovhorizel.svg; do
  [ -f "$root/$f" ] || fail "not installed: $f"
done

desktop=$root/share/applications/ovhorizel.desktop
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (scripts/deps.sh installs it)"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -q '^MimeType=.*image/jpeg;' "$desktop" || fail "no readable MIME types in the desktop entry"
grep -q '^Exec=ovhorizel %F$' "$desktop" || fail "Exec line"

# The installed program uses the installed Formgate, not the build tree's.
formgate=$(ldd "$root/bin/ovhorizel" | awk '/libformgate.so/ {print $3}')
case "$formgate" in
  "$root"/*) ;;
  *) fail "the installed program loads Formgate from '$formgate'" ;;
esac

# It starts on the samples: start-up has run when the profile says so.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export QT_QPA_PLATFORM=offscreen OVHORIZEL_ONLINE_SERVER=http://127.0.0.1:9
"$root/bin/ovhorizel" "$source"/samples/boat-row/*.jpg >"$work/run.log" 2>&1 &
pid=$!
ini="$work/config/ORVEX Horizel/OvHorizel.ini"
for _ in $(seq 1 300); do
  if [ -f "$ini" ] && grep -q 'NOTFIRSTLAUNCH=0' "$ini"; then
    break
  fi
  kill -0 "$pid" 2>/dev/null || fail "the installed program ended: $(tail -5 "$work/run.log")"
  sleep 0.1
done
grep -q 'NOTFIRSTLAUNCH=0' "$ini" 2>/dev/null || fail "the installed program did not finish starting"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the installed program ended after starting: $(tail -5 "$work/run.log")"
echo "installed and started from $root"
