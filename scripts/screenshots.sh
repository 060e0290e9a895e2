#!/usr/bin/env bash
# Screenshots of the desktop application as a user sees it: the real kestrel on the virtual pen
# and the stand-in service, with a private home, under X11 (Xvfb) and under Wayland (weston's
# headless backend), at scale 1 and at QT_SCALE_FACTOR=1.5, in light and dark appearance.
#
#   scripts/screenshots.sh [--readme] [FOLDER]     (default: ./screenshots)
#
# FOLDER/<x11|wayland>-<1x|1.5x>/ gets welcome.png (nobody signed in), window.png (signed in,
# after the pen's recordings came in) and menu.png (the tray menu popped up), each also in dark
# appearance (*-dark.png). Under X11, whose keys the script can type, it also gets library.png
# (a transcribed recording selected), search.png (words found in the transcripts), device.png (the pen connected), audit.png (one problem
# found) and binding.png (a pen bound to another account). --readme also writes the small
# pictures the README opens with to docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

readme=false
if [ "${1:-}" = --readme ]; then
  readme=true
  shift
fi
out=${1:-screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cmake --preset dev >/dev/null
cmake --build --preset dev --target kestrel mindvault-dev
kestrel_bin=$PWD/build/dev/src/app/kestrel
standin_bin=$PWD/build/dev/tools/mindvault-dev/mindvault-dev
fixtures=$PWD/tests/fixtures/engine

work=$(mktemp -d /tmp/kestrel-shots.XXXXXX)
email=demo@example.com
password=screenshot-password
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

mkdir -p "$work/run" "$work/grab"
chmod 700 "$work/run"

# --- the display server: Xvfb or weston, sized for the scale -----------------------------------
server_pid=
display_env=()
start_display() { # x11|wayland WIDTH HEIGHT
  if [ "$1" = x11 ]; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "$2x$3x24" -nolisten tcp > "$work/display.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    display_env=(DISPLAY=":$n" QT_QPA_PLATFORM=xcb)
  else
    # --debug lets weston-screenshooter read the output back.
    XDG_RUNTIME_DIR="$work/run" weston --backend=headless-backend.so --use-pixman \
      --width="$2" --height="$3" --socket=kestrel-shots --idle-time=0 --no-config --debug \
      > "$work/display.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do [ -S "$work/run/kestrel-shots" ] && break; sleep 0.1; done
    sleep 1 # the shell's panel and background
    display_env=(WAYLAND_DISPLAY=kestrel-shots QT_QPA_PLATFORM=wayland)
  fi
  pids+=("$server_pid")
}
stop_display() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}

# --- the stand-in service and the archive, new for every session -----------------------------
archive=
new_archive() {
  archive=$work/archive-$1
  rm -rf "$work/data" "$work/config" "$work/home"
  mkdir -p "$archive/importer" "$work/home" "$work/data" "$work/config"
  "$standin_bin" --port 0 --user "$email:$password" --processing-seconds 1 \
    --write-config "$archive/importer/mindvault.json" > "$work/mindvault-dev-$1.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$archive/importer/mindvault.json" ] && break; sleep 0.1; done
}

app_env() {
  env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u DISPLAY -u QT_QPA_PLATFORM \
    -u QT_SCALE_FACTOR HOME="$work/home" XDG_DATA_HOME="$work/data" \
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" "${display_env[@]}" \
    "${look_env[@]}" "$@"
}
app_pid=
start_app() {
  app_env "$kestrel_bin" --fast-timing --archive-root "$archive" \
    --virtual-pen "$fixtures/scenario.json" >> "$work/kestrel.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  for _ in $(seq 100); do [ -S "$work/run/kestrel-desktop.sock" ] && break; sleep 0.1; done
}
stop_app() {
  app_env "$kestrel_bin" --quit --archive-root "$archive" || kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  rm -f "$work/run/kestrel-desktop.sock"
}
sign_in() {
  printf '%s\n' "$password" | app_env "$kestrel_bin" sign-in --email "$email" \
    --archive-root "$archive" > /dev/null
}

dir=
server=
shoot() { # NAME
  if [ "$server" = x11 ]; then
    app_env import -window root "$dir/$1.png"
  else
    rm -f "$work/grab"/*.png
    (cd "$work/grab" && app_env weston-screenshooter)
    mv "$work/grab"/*.png "$dir/$1.png"
  fi
  echo "  $dir/$1.png"
}
# The pointer where the tray menu should open (X11; Wayland has no global pointer), then the menu.
open_menu() {
  [ "$server" = x11 ] && app_env xdotool mousemove "$menu_x" 120
  app_env "$kestrel_bin" --menu --archive-root "$archive"
  sleep 1.5
}
# Only the popped-up menu (X11): the smallest visible window of ours.
grab_menu() { # FILE
  local id best='' area=0 WIDTH HEIGHT X Y SCREEN WINDOW
  for id in $(app_env xdotool search --onlyvisible --class kestrel); do
    eval "$(app_env xdotool getwindowgeometry --shell "$id")"
    if [ -z "$best" ] || [ $((WIDTH * HEIGHT)) -lt "$area" ]; then
      best=$id
      area=$((WIDTH * HEIGHT))
    fi
  done
  app_env import -window "$best" "$1"
}
key() { app_env xdotool mousemove "$center_x" "$center_y"; app_env xdotool key --clearmodifiers "$@"; }

for server in x11 wayland; do
  for scale in 1 1.5; do
    if [ "$scale" = 1 ]; then width=1280 height=800; else width=1920 height=1200; fi
    menu_x=$((width * 7 / 10))
    center_x=$((width / 2))
    center_y=$((height / 2))
    dir=$out/$server-${scale}x
    mkdir -p "$dir"
    echo "$server at scale $scale:"
    start_display "$server" "$width" "$height"
    for appearance in light dark; do
      suffix=
      look_env=(QT_SCALE_FACTOR="$scale")
      if [ "$appearance" = dark ]; then
        suffix=-dark
        # A GNOME desktop with its dark theme hands Qt this palette.
        look_env+=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark)
      fi
      new_archive "$server-$scale-$appearance"
      start_app
      sleep 3
      shoot "welcome$suffix"
      stop_app

      sign_in
      start_app
      # The pen's three recordings come in, go up and get their transcripts.
      sleep 12
      shoot "window$suffix"
      open_menu
      shoot "menu$suffix"
      if [ "$server$scale$appearance" = x111light ]; then grab_menu "$work/menu-only.png"; fi
      stop_app
    done
    if [ "$server" = wayland ]; then
      stop_display
      continue
    fi

    # The window's pages, in light appearance: the library with a transcribed recording
    # selected (chain, waveform, transcript), the device page while the pen is connected, the
    # audit panel with one problem, and the card for a pen bound to another account.
    look_env=(QT_SCALE_FACTOR="$scale")
    new_archive "$server-$scale-pages"
    sign_in
    # Recordings of any length go up, so the short test recordings get transcripts.
    mkdir -p "$archive/out"
    echo '{"coolingDays": 3, "deleteAfterSync": false, "minUploadSeconds": 0}' \
      > "$archive/out/swift-settings.json"
    start_app
    sleep 15
    key ctrl+1 ctrl+f Return
    sleep 3
    shoot library
    # The search field finds words said in the transcripts: the hits below the list.
    key ctrl+f
    app_env xdotool type --delay 80 "计划"
    sleep 3
    shoot search
    key ctrl+f ctrl+a BackSpace
    key ctrl+2 ctrl+r
    sleep 0.6
    shoot device
    # One recording loses its Ogg file; the tray's "体检本地归档" opens the panel, "重新体检"
    # runs it.
    rm -f "$archive/导入/20251203-101500.ogg"
    app_env "$kestrel_bin" --menu --archive-root "$archive"
    sleep 1
    app_env xdotool key Down Down Down Down Down Down Return
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
    stop_display
  done
done

# The README's pictures, from X11 at scale 1: the window's pages cut out and made smaller, the
# menu as it is.
if $readme; then
  mkdir -p docs
  small() { # SOURCE TARGET SIZE
    convert "$1" -trim +repage -resize "$3" -colors 192 "docs/$2.png"
    echo "  docs/$2.png"
  }
  small "$out/x11-1x/library.png" library 60%
  small "$out/x11-1x/device.png" device 60%
  small "$work/menu-only.png" menu 100%
fi
echo "screenshots in $out"
