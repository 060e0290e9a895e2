#!/usr/bin/env bash
# Installs the build into a scratch root and checks the desktop entry, the AppStream metadata
# and the station's systemd unit with the tools desktops and distributions check them with.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
base=$root$prefix

desktop=$base/share/applications/org.kestrel.Kestrel.desktop
metainfo=$base/share/metainfo/org.kestrel.Kestrel.metainfo.xml
icon=$base/share/icons/hicolor/scalable/apps/org.kestrel.Kestrel.svg
unit=$base/lib/systemd/user/kestrel-station.service
for f in "$base/bin/kestrel" "$desktop" "$metainfo" "$icon" "$unit"; do
    [ -e "$f" ] || { echo "not installed: ${f#"$root"}"; exit 1; }
done

desktop-file-validate "$desktop"
# Docks match the window to this entry by X11's WM_CLASS (the application's name, kestrel) and
# by the entry's file name (the Wayland app id); its actions reach the running instance.
for line in "StartupWMClass=kestrel" "Actions=sync-now;quit;" "Exec=kestrel --sync-now" \
    "Exec=kestrel --quit"; do
    grep -qxF "$line" "$desktop" || { echo "desktop entry lacks: $line"; exit 1; }
done
appstreamcli validate --no-net --explain "$metainfo"

# Without a user session `systemd-analyze --user verify` cannot run. Verifying the unit as a
# unit of the scratch root (with the host's own targets beside it) checks the same syntax and
# that ExecStart names an executable that was installed.
grep -q "^ExecStart=$prefix/bin/kestrel --headless$" "$unit" ||
    { echo "ExecStart does not start the installed kestrel --headless"; exit 1; }
# A station that keeps failing stops trying after a few starts instead of looping for ever.
for line in "StartLimitBurst=5" "StartLimitIntervalSec=1800" "RestartPreventExitStatus=2"; do
    grep -qxF "$line" "$unit" || { echo "station unit lacks: $line"; exit 1; }
done
mkdir -p "$root/etc/systemd/system" "$root/usr/lib/systemd"
cp -r /lib/systemd/system "$root/usr/lib/systemd/"
cp "$unit" "$root/etc/systemd/system/"
out=$(systemd-analyze verify --root="$root" kestrel-station.service 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; } # warnings too
"$base/bin/kestrel" --version
echo "installed files check out"
