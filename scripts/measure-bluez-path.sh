#!/usr/bin/env bash
# Measures the real Bluetooth path: `kestrel --headless --once` over Qt Bluetooth and D-Bus
# against virtual-pen-bluez (a mock BlueZ playing the virtual pen) on a private system bus,
# with the pen sending as fast as it can. Prints the download rate kestrel logged and the CPU
# time kestrel and the mock spent per MB. A real pen sends about 20 KB/s.
#
#   scripts/measure-bluez-path.sh [BUILD_DIR] [MB]     (defaults: build/release, 4)
#
# With --idle it measures the listening station instead: `kestrel --headless` for SECONDS with
# the pen switched off and NEIGHBOURS other devices appearing, changing and expiring around it
# (a busy room); prints kestrel's CPU share and how often it read BlueZ's whole object tree.
#
#   scripts/measure-bluez-path.sh --idle [BUILD_DIR] [NEIGHBOURS] [SECONDS]   (build/release, 50, 60)
set -euo pipefail
cd "$(dirname "$0")/.."
idle=""
if [ "${1:-}" = "--idle" ]; then idle=1; shift; fi
build=${1:-build/release}
mb=${2:-4}
neighbours=${2:-50}
seconds=${3:-60}
kestrel=$build/src/app/kestrel
mock_bin=$build/tools/virtual-pen/virtual-pen-bluez
[ -x "$kestrel" ] && [ -x "$mock_bin" ] || { echo "build kestrel and virtual-pen-bluez in $build first" >&2; exit 2; }

work=$(mktemp -d)
bus=""; mock=""
cleanup() { [ -n "$mock" ] && kill "$mock" 2>/dev/null; [ -n "$bus" ] && kill "$bus" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

cat > "$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --print-address=3 --nofork 3>"$work/address" 2>/dev/null &
bus=$!
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$work/address")

# Two files of MB/2 each, 40-byte packets.
packets=$(( mb * 1024 * 1024 / 40 / 2 ))
cat > "$work/pen.json" <<EOF
{ "name": "QX27-0001", "files": [
  { "name": "20251201-093000.opus", "generate": { "packets": $packets, "seed": 1 } },
  { "name": "20251201-101500.opus", "generate": { "packets": $packets, "seed": 2 } } ] }
EOF
mock_flags=()
[ -n "$idle" ] && mock_flags=(--neighbours "$neighbours")
"$mock_bin" "${mock_flags[@]}" "$work/pen.json" &
mock=$!
for _ in $(seq 100); do
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.bluez 2>/dev/null | grep -q true && break
  sleep 0.1
done

if [ -n "$idle" ]; then
  mockpen() { dbus-send --system --print-reply --dest=org.bluez /mockpen "com.kestrel.MockPen.$1" "${@:2}"; }
  mockpen SetPenOn boolean:false >/dev/null
  XDG_DATA_HOME="$work/data" "$kestrel" --headless --archive-root "$work/archive" >"$work/log" &
  station=$!
  sleep 5 # start-up is not idling
  reads_before=$(mockpen TreeReads | awk '/int32/ {print $2}')
  read -r u0 s0 < <(awk '{print $14, $15}' "/proc/$station/stat")
  sleep "$seconds"
  read -r u1 s1 < <(awk '{print $14, $15}' "/proc/$station/stat")
  reads=$(( $(mockpen TreeReads | awk '/int32/ {print $2}') - reads_before ))
  seen=$(mockpen NeighboursSeen | awk '/int32/ {print $2}')
  kill "$station"; wait "$station" || true
  awk -v u=$((u1 - u0)) -v s=$((s1 - s0)) -v ticks="$(getconf CLK_TCK)" -v secs="$seconds" \
      -v n="$neighbours" -v seen="$seen" -v reads="$reads" -v load="$(cut -d' ' -f1 /proc/loadavg)" '
    BEGIN {
      cpu = (u + s) / ticks
      printf "listening %d s among %d neighbours (%d seen in all): kestrel %.2f s CPU = %.2f%% of one core; %d tree reads (load average %s)\n", secs, n, seen, cpu, 100 * cpu / secs, reads, load
    }'
  exit 0
fi

XDG_DATA_HOME="$work/data" /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
  "$kestrel" --headless --once --archive-root "$work/archive" >"$work/log"
[ -n "${KEEP_LOG:-}" ] && cp "$work/log" "$KEEP_LOG"
read -r wall user sys maxrss <"$work/time"
read -r mock_user mock_sys < <(awk '{print $14, $15}' "/proc/$mock/stat")
read -r bus_user bus_sys < <(awk '{print $14, $15}' "/proc/$bus/stat")
ticks=$(getconf CLK_TCK)

grep -E '\] 导入 .*KB/s' "$work/log" || { echo "no import in the log:" >&2; cat "$work/log" >&2; exit 1; }
bytes=$(( packets * 40 * 2 ))
awk -v bytes="$bytes" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$maxrss" \
    -v mu="$mock_user" -v ms="$mock_sys" -v bu="$bus_user" -v bs="$bus_sys" -v ticks="$ticks" \
    -v load="$(cut -d' ' -f1 /proc/loadavg)" '
  /\] 导入 .*KB\/s/ { match($0, /[0-9.]+KB\/s/); rate = substr($0, RSTART, RLENGTH - 4); sum += rate; n++ }
  END {
    mb = bytes / 1048576
    printf "downloaded %.2f MB; rate per file (as kestrel logs it): %.1f KB/s on average (%.0fx a real pen'"'"'s 20 KB/s)\n", mb, sum / n, sum / n / 20
    printf "kestrel: %.2f s wall (8 s of it the scan), %.2f s CPU = %.3f CPU s per MB, max RSS %d KB\n", wall, user + sys, (user + sys) / mb, rss
    printf "mock BlueZ + virtual pen: %.2f s CPU = %.3f CPU s per MB\n", (mu + ms) / ticks, (mu + ms) / ticks / mb
    printf "dbus-daemon: %.2f s CPU = %.3f CPU s per MB (load average %s)\n", (bu + bs) / ticks, (bu + bs) / ticks / mb, load
  }' "$work/log"
