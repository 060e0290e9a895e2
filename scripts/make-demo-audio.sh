#!/usr/bin/env bash
# Makes pen-like recordings (bare 40-byte Opus packets, 20 ms each, 16 kHz mono) from synthetic
# speech, and a virtual-pen scenario that holds them.
#   scripts/make-demo-audio.sh OUT_DIR
# Writes OUT_DIR/audio/*.raw and OUT_DIR/scenario.json. Needs espeak-ng, sox, opusenc, ffmpeg.
set -euo pipefail
out=${1:?usage: make-demo-audio.sh OUT_DIR}
mkdir -p "$out/audio"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# speech NAME TEXT... : one sentence per argument, a short pause between them.
speech() {
  local name=$1; shift
  local parts=() i=0
  for sentence in "$@"; do
    espeak-ng -v cmn -s 150 "$sentence" -w "$work/$name-$i.wav"
    sox "$work/$name-$i.wav" -r 16000 -c 1 -b 16 "$work/$name-$i-16k.wav" gain -1 pad 0 0.8
    parts+=("$work/$name-$i-16k.wav")
    i=$((i + 1))
  done
  sox "${parts[@]}" -b 16 "$work/$name.wav"
}

# packets NAME : encodes NAME.wav the way the pen does and keeps only the packets.
packets() {
  opusenc --quiet --hard-cbr --bitrate 16 --framesize 20 "$work/$1.wav" "$work/$1.opus"
  ffmpeg -v error -y -i "$work/$1.opus" -map 0:a -c copy -f data "$out/audio/$1.raw"
}

meeting=(
  "大家好，今天下午的项目周会现在开始。"
  "第一项，录音笔导入工具已经可以自动连接并下载新的录音。"
  "断开之后再连上，下载会从上次的位置继续，不会重复。"
  "第二项，每条录音都会保存两份，一份原始数据包，一份标准音频文件。"
  "第三项，上传到云端之后，系统会一直跟踪，直到转写完成。"
  "请大家在周五之前把测试结果发给我。"
  "下周我们讨论清理录音笔的规则，只有在所有条件都满足时才会删除。"
  "好，今天的会就到这里，谢谢大家。"
)
memo=(
  "备忘录。明天上午九点去客户那里演示新版本。"
  "记得带上录音笔和充电线，提前十分钟到达。"
  "演示的重点是自动导入和转写结果的质量。"
  "结束后整理客户的意见，周三之前发给团队。"
)
speech 20251201-093000 "${meeting[@]}"
speech 20251201-141500 "${memo[@]}"
speech 20251202-080000 "测试一下，这是一条很短的录音。"
sox -n -r 16000 -c 1 -b 16 -e signed-integer "$work/20251202-120000.wav" synth 45 sine 100 vol 0.05 # a steady hum: no speech
for n in 20251201-093000 20251201-141500 20251202-080000 20251202-120000; do packets "$n"; done

files=""
for raw in "$out"/audio/*.raw; do
  base=$(basename "$raw" .raw)
  files+="${files:+,}
    { \"name\": \"$base.opus\", \"source\": \"audio/$base.raw\" }"
done
cat > "$out/scenario.json" <<JSON
{
  "name": "QX27-0001", "address": "C0:11:22:33:44:55", "advertisesService": true, "rssi": -58,
  "mtu": 185, "bytesPerSecond": 40000,
  "recordStatus": 2, "currentName": "",
  "battery": 76, "firmware": "1.0.3", "gain": 2, "capacity": { "remain": 3000, "total": 4000 },
  "files": [$files
  ],
  "faults": { "dropAfterBytes": [60000], "stallAfterBytes": [], "unknownNames": [], "unanswered": [], "crcDamageEvery": 0 }
}
JSON
