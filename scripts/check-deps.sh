#!/usr/bin/env bash
# Prints every pair of product folders that include each other (a subfolder counts as a folder
# of its own) and any longer include cycle between folders; exits 0 when there is none.
set -uo pipefail
cd "$(dirname "$0")/.."
edges=$(for f in $(git ls-files '*.cpp' '*.h' '*.h.in' | grep -vE '^(tests|bench|fuzz)/'); do
  d=$(dirname "$f")
  grep -oE '^#include "[^"]+"' "$f" | sed -E 's/#include "(.*)"/\1/' | while read -r inc; do
    id=$(dirname "$inc")
    if [ "$id" != "$d" ] && [ "$id" != "." ]; then echo "$d $id"; fi
  done
done | sort -u)
bad=0
while read -r a b; do
  if [ -n "$a" ] && [[ "$a" < "$b" ]] && grep -qx "$b $a" <<<"$edges"; then
    echo "cycle: $a <-> $b"; bad=1
  fi
done <<<"$edges"
if ! err=$(tsort <<<"$edges" 2>&1 >/dev/null); then
  echo "longer cycle:"; echo "$err"; bad=1
fi
exit $bad
