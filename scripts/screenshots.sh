#!/usr/bin/env bash
# Screenshots of the desktop application as a user sees it: the real kestrel under a virtual
# display (Xvfb), on the virtual pen and the stand-in service, with a private home.
#
#   scripts/screenshots.sh [FOLDER]     (default: ./screenshots)
#
# Writes welcome.png (nobody signed in), window.png (signed in, after the pen's recordings came
# in) and menu.png (the tray menu popped up on screen), plus the same three in dark appearance
# (*-dark.png).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

out=${1:-screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cmake --preset dev >/dev/null
cmake --build --preset dev --target kestrel mindvault-dev
kestrel_bin=$PWD/build/dev/src/app/kestrel
standin_bin=$PWD/build/dev/tools/mindvault-dev/mindvault-dev
fixtures=$PWD/tests/fixtures/engine

work=$(mktemp -d /tmp/kestrel-shots.XXXXXX)
archive=$work/archive
email=demo@example.com
password=screenshot-password
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# A display of its own, the first free number from 90 on.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.out" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

mkdir -p "$archive/importer" "$work/home" "$work/data" "$work/config" "$work/run"
chmod 700 "$work/run"
private_env=(env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM
  HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
  XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb)

"$standin_bin" --port 0 --user "$email:$password" --processing-seconds 1 \
  --write-config "$archive/importer/mindvault.json" > "$work/mindvault-dev.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$archive/importer/mindvault.json" ] && break
  sleep 0.1
done

app_pid=
start_app() { # [extra environment...]
  "${private_env[@]}" "$@" "$kestrel_bin" --fast-timing --archive-root "$archive" \
    --virtual-pen "$fixtures/scenario.json" >> "$work/kestrel.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  for _ in $(seq 100); do
    [ -S "$work/run/kestrel-desktop.sock" ] && break
    sleep 0.1
  done
}
stop_app() {
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  rm -f "$work/run/kestrel-desktop.sock"
}
shoot() { # NAME
  import -window root "$out/$1.png"
  echo "  $out/$1.png"
}
# The pointer where the tray menu should open, then the menu.
open_menu() {
  xdotool mousemove 900 120
  "${private_env[@]}" "$kestrel_bin" --menu --archive-root "$archive"
  sleep 1
}

for appearance in light dark; do
  suffix=
  extra=()
  if [ "$appearance" = dark ]; then
    suffix=-dark
    # A GNOME desktop with its dark theme hands Qt this palette.
    extra=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark)
  fi
  rm -f "$work/data/Mindvault/credentials.json"

  start_app "${extra[@]}"
  sleep 3
  shoot "welcome$suffix"
  stop_app

  printf '%s\n' "$password" | "${private_env[@]}" "$kestrel_bin" sign-in --email "$email" \
    --archive-root "$archive" > /dev/null
  start_app "${extra[@]}"
  # The pen's three recordings come in, go up and get their transcripts.
  sleep 12
  shoot "window$suffix"
  open_menu
  shoot "menu$suffix"
  stop_app
done
# The window's pages, in light appearance: the library with a transcribed recording selected
# (chain, waveform, transcript), the device page while the pen is connected, the audit panel
# with one problem, and the card for a pen bound to another account.
key() { xdotool mousemove 640 400; xdotool key --clearmodifiers "$@"; }
# Recordings of any length go up, so the short test recordings get transcripts.
mkdir -p "$archive/out"
echo '{"coolingDays": 3, "deleteAfterSync": false, "minUploadSeconds": 0}' \
  > "$archive/out/swift-settings.json"
start_app
sleep 15
key ctrl+1 ctrl+f Return
sleep 3
shoot library
key ctrl+2 ctrl+r
sleep 0.6
shoot device
# One recording loses its Ogg file; the tray's "体检本地归档" opens the panel, "重新体检" runs it.
rm -f "$archive/导入/20251203-101500.ogg"
"${private_env[@]}" "$kestrel_bin" --menu --archive-root "$archive"
sleep 1
xdotool key Down Down Down Down Down Down Return
sleep 1
key space
sleep 3
shoot audit
stop_app

# A pen last bound to another organisation stops the round until the user decides.
mkdir -p "$work/data/Mindvault"
cat > "$work/data/Mindvault/device-bindings.json" <<'JSON'
{"C0:11:22:33:44:66": {"orgId": "org-elsewhere", "email": "colleague@example.com", "deviceNo": "QX27-0042"}}
JSON
start_app
sleep 6
shoot binding
stop_app
echo "screenshots in $out"
