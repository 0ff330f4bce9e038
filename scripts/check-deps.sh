#!/usr/bin/env bash
# Prints every pair of product folders that include each other and any longer include cycle
# between folders; exits 0 when there is none. It looks twice: folder by folder (a subfolder a
# folder of its own), and by top-level folder (a subfolder part of its top-level folder), so a
# layer cannot lean on one above it through a subfolder.
set -uo pipefail
cd "$(dirname "$0")/.."
pairs=$(for f in $(git ls-files '*.cpp' '*.h' '*.h.in' | grep -vE '^(tests|bench|fuzz)/'); do
  d=$(dirname "$f")
  grep -oE '^#include "[^"]+"' "$f" | sed -E 's/#include "(.*)"/\1/' | while read -r inc; do
    id=$(dirname "$inc")
    if [ "$id" != "$d" ] && [ "$id" != "." ]; then echo "$d $id"; fi
  done
done | sort -u)

# check LEVEL EDGES: prints the cycles among EDGES ("from to" lines); returns 1 if there is one
check() {
  local level=$1 edges=$2 found=0 a b err
  while read -r a b; do
    if [ -n "$a" ] && [[ "$a" < "$b" ]] && grep -qx "$b $a" <<<"$edges"; then
      echo "cycle ($level): $a <-> $b"; found=1
    fi
  done <<<"$edges"
  if ! err=$(tsort <<<"$edges" 2>&1 >/dev/null); then
    echo "longer cycle ($level):"; echo "$err"; found=1
  fi
  return $found
}

top=$(while read -r a b; do
  [ -n "$a" ] || continue
  ta=${a%%/*} tb=${b%%/*}
  if [ "$ta" != "$tb" ]; then echo "$ta $tb"; fi
done <<<"$pairs" | sort -u)

bad=0
# The Python module sits on top of everything: nothing includes it.
if inc=$(git grep -lE '^#include "python/' -- '*.cpp' '*.h' ':!python/' 2>/dev/null) && [ -n "$inc" ]; then
  echo "python/ is included by:"; echo "$inc"; bad=1
fi
check folder "$pairs" || bad=1
check top-level "$top" || bad=1
exit $bad
