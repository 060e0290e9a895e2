#!/usr/bin/env bash
# The demo: a virtual pen holding synthetic speech recordings, the stand-in service on loopback
# and the real kestrel in headless mode, from the pen to transcripts.
#   scripts/demo.sh [WORK_DIR]
# Everything it makes (recordings, archive, credentials, logs) stays in WORK_DIR (default: a new
# folder under /tmp); the user's own credentials and archive are never touched. Every process it
# starts is stopped on exit. It builds with the dev preset (optimised, shared with scripts/test.sh);
# KESTREL_DEMO_PRESET=release builds a separate release tree instead.
set -euo pipefail
cd "$(dirname "$0")/.."

email=demo@kestrel.test
password=demo-password
minUploadSeconds=10 # the 3-second recording stays local, the longer ones are pushed
timeout=${KESTREL_DEMO_TIMEOUT:-300}

step() { printf '\n== %s\n' "$*"; }

step "Installing what is missing"
scripts/install-deps.sh

preset=${KESTREL_DEMO_PRESET:-dev}
step "Building kestrel and the stand-in service ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target kestrel mindvault-dev
kestrel_bin=$PWD/build/$preset/src/app/kestrel
standin_bin=$PWD/build/$preset/tools/mindvault-dev/mindvault-dev

work=${1:-$(mktemp -d /tmp/kestrel-demo.XXXXXX)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
archive=$work/archive
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [ "$status" -eq 130 ] || [ "$status" -eq 143 ]; then
    echo "demo interrupted; everything it started has been stopped (files stay in $work)" >&2
  elif [ "$status" -ne 0 ]; then
    echo "demo failed; what the programs said is in $work/*.out" >&2
    tail -n 20 "$work"/kestrel.out 2>/dev/null >&2 || true
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# kestrel with a private home: credentials and pen bindings land in $work/data/Mindvault, and no
# desktop notification goes out.
# (env execs kestrel, so a background job's $! is kestrel's own process id.)
private_env=(env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home" XDG_DATA_HOME="$work/data"
  XDG_CONFIG_HOME="$work/config" XDG_DOCUMENTS_DIR="$work/documents")
kestrel() { "${private_env[@]}" "$kestrel_bin" "$@"; }

step "Making speech recordings for the virtual pen"
scripts/make-demo-audio.sh "$work/pen"
for raw in "$work"/pen/audio/*.raw; do
  printf '  %s  %4d s\n' "$(basename "$raw" .raw)" $((($(stat -c %s "$raw") / 40 * 20 + 500) / 1000))
done

mkdir -p "$archive/importer" "$archive/out" "$work/home" "$work/data"
cat > "$archive/out/swift-settings.json" <<JSON
{"deleteAfterSync": false, "coolingDays": 3, "minUploadSeconds": $minUploadSeconds}
JSON

step "Starting the stand-in service"
# --detect-speech: like the service, the stand-in fails the hum recording for want of speech.
"$standin_bin" --port 0 --user "$email:$password" --processing-seconds 3 --detect-speech \
  --write-config "$archive/importer/mindvault.json" > "$work/mindvault-dev.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/mindvault-dev.out" ] && break
  sleep 0.1
done
echo "  $(head -n 1 "$work/mindvault-dev.out")"

step "Signing in as $email (password on standard input)"
printf '%s\n' "$password" | kestrel sign-in --email "$email" --archive-root "$archive"

step "Running kestrel --headless against the virtual pen"
"${private_env[@]}" "$kestrel_bin" --headless --fast-timing --archive-root "$archive" \
  --virtual-pen "$work/pen/scenario.json" > "$work/kestrel.out" 2>&1 &
pids+=($!)
headless=$!

# count LABEL STATUS_TEXT: the number in "LABEL N 条" of the status counts line (0 if absent).
count() {
  local n
  n=$(sed -n "s/.*$1 \([0-9]*\) 条.*/\1/p" <<<"$2" | head -n 1)
  echo "${n:-0}"
}
recordings=$(find "$work/pen/audio" -name '*.raw' | wc -l)

# First wait, from the ledger alone, until everything to push is pushed; only then ask the
# service, so the status checks never race the running engine's own sign-in.
deadline=$((SECONDS + timeout))
echo "  waiting for the recordings to be downloaded and pushed"
while :; do
  kill -0 "$headless" 2>/dev/null || { echo "kestrel --headless ended early (interrupted?)" >&2; exit 1; }
  status=$(kestrel status --offline --archive-root "$archive" || true)
  if [ "$(count 已导入 "$status")" = "$recordings" ] && [ "$(count 待推送 "$status")" = 0 ] &&
     [ "$(count 已推送 "$status")" -ge 1 ]; then
    break
  fi
  [ "$SECONDS" -lt "$deadline" ] || { echo "timed out; last status:" >&2; echo "$status" >&2; exit 1; }
  sleep 1
done
# Every pushed recording ends transcribed or failed; the only failure expected is the hum's, for
# want of speech (checked below).
echo "  waiting for the transcripts"
while :; do
  status=$(kestrel status --archive-root "$archive" || true)
  pushed=$(count 已推送 "$status")
  transcribed=$(count 已转写 "$status")
  failed=$(count 转写失败 "$status")
  if [ $((transcribed + failed)) = "$pushed" ] && [ "$(count 处理中 "$status")" = 0 ]; then
    break
  fi
  [ "$SECONDS" -lt "$deadline" ] || { echo "timed out; last status:" >&2; echo "$status" >&2; exit 1; }
  sleep 1
done

step "The archive ($archive)"
(cd "$archive" && find . -type f -printf '%10s  %P\n' | sort -k2)

step "Every recording's state"
echo "$status"

step "The pen's binding to the account"
cat "$work/data/Mindvault/device-bindings.json"
echo

step "The sync log's last lines"
tail -n 25 "$archive/out/swift-同步日志.txt"

# The hum (make-demo-audio.sh's recording without speech) must have failed with a no-speech code
# and nothing else may have failed.
hum=20251202-120000
noSpeech='转写失败（\(ASR_NO_SPEECH\|INVALID_ASR_TIMELINE\)）'
if [ "$failed" != 1 ] || ! grep -q "^ *$hum .*$noSpeech" <<<"$status"; then
  echo "expected exactly one failed recording, $hum, failed for want of speech" >&2
  exit 1
fi

step "Done: $transcribed recordings transcribed, $hum failed for want of speech as expected; everything is in $work"
