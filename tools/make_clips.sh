#!/usr/bin/env bash
# Speaks every clip of the catalogue with espeak-ng and encodes it with lame into
# TVS/Resources/app_sounds.bundle/<entity id>/<sound id>.mp3 (mono, 32 kbit/s, 22.05 kHz, so
# each file stays well under 40 KB). Each person gets a voice of their own (variant and pitch).
# Tool-only: needs `apt-get install -y espeak-ng lame`. The outputs are committed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
catalogue="$root/TVS/Resources/SoundProducingEntities.json"
out="$root/TVS/Resources/app_sounds.bundle"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

rm -rf "$out"
mkdir -p "$out"
# One line per clip: entity id, sound id, voice, pitch, phrase (tab-separated).
python3 - "$catalogue" > "$tmp/clips.tsv" <<'PY'
import json, sys
voices = ["en-us+m3", "en+f3", "en+m7", "en-us+f4", "en+m2", "en+f2"]
pitches = [45, 60, 30, 70, 40, 55]
for i, entity in enumerate(json.load(open(sys.argv[1], encoding="utf-8"))):
    for sound in entity["sounds"]:
        print("\t".join([entity["id"], sound["id"], voices[i % len(voices)],
                         str(pitches[i % len(pitches)]), sound["displayName"]]))
PY
while IFS=$'\t' read -r entity sound voice pitch phrase; do
  mkdir -p "$out/$entity"
  espeak-ng -v "$voice" -p "$pitch" -s 160 -w "$tmp/clip.wav" "$phrase"
  lame --quiet -m m -b 32 --resample 22.05 "$tmp/clip.wav" "$out/$entity/$sound.mp3"
done < "$tmp/clips.tsv"
find "$out" -name '*.mp3' | wc -l | xargs echo "clips written:"
