#!/usr/bin/env bash
# Checks that every file of the module's source tree includes headers of its own layer and of
# the layers below it only:
#   tools/check-layers.sh SOURCE_DIR LAYER...      (the folders of SOURCE_DIR, lowest first)
# Prints one line per offending include ("<file>:<line>: ...") and fails when there is any, or
# when a folder of SOURCE_DIR is not one of the layers.
set -euo pipefail
src=$1
shift
layers=("$@")
declare -A ranks
for i in "${!layers[@]}"; do ranks[${layers[$i]}]=$i; done

problems=0
report() {
  echo "$*"
  problems=$((problems + 1))
}
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  [ -n "${ranks[$folder]+known}" ] || report "$folder/: a folder that is not one of the layers ${layers[*]}"
done

checked=0
for layer in "${layers[@]}"; do
  [ -d "$src/$layer" ] || continue
  own=${ranks[$layer]}
  while IFS= read -r file; do
    checked=$((checked + 1))
    name=${file#"$src/"}
    while IFS=: read -r line header; do
      target=${header%%/*}
      if [ "$target" = "$header" ]; then
        report "$name:$line: includes $header, which names no layer"
      elif [ -z "${ranks[$target]+known}" ]; then
        report "$name:$line: includes $header, outside the layers"
      elif [ "${ranks[$target]}" -gt "$own" ]; then
        report "$name:$line: the $layer layer includes $header of the higher $target layer"
      fi
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
  done < <(find "$src/$layer" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
done

if [ "$problems" -gt 0 ]; then
  echo "$problems problems with the layer order (lowest first: ${layers[*]})"
  exit 1
fi
echo "$checked files include only their own layer and the layers below it"
