#!/usr/bin/env bash
# Updating the catalogue from the sources must keep every text it has and find none untranslated.
# lupdate cannot see a text that reaches tr() through a helper function or a ternary: it would
# mark it vanished, and the next update would drop its translation.
# Usage: catalogue-update.sh LUPDATE SOURCE_DIR
set -euo pipefail
lupdate=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$source/resources/veltro_zh.ts" "$work/"
"$lupdate" -silent -I "$source" "$source/app" "$source/manager" "$source/popup" -ts "$work/veltro_zh.ts"
before=$(grep -c '<message>' "$source/resources/veltro_zh.ts")
after=$(grep -c '<message' "$work/veltro_zh.ts")
lost=$(grep -E 'type="(vanished|obsolete|unfinished)"' "$work/veltro_zh.ts" -B2 | grep '<source>' || true)
echo "$before messages in the catalogue, $after after an update"
[[ -z $lost ]] || { echo "Texts lupdate no longer finds, or finds untranslated:"; echo "$lost"; exit 1; }
[[ $before == "$after" ]]
