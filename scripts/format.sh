#!/bin/bash
# Formats the C and C++ sources of the tree with clang-format and the root's
# .clang-format:
#   format.sh           rewrite every file that is not formatted
#   format.sh --check   only list the files that differ; exit 1 if there are any
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) sed -n '2,5p' "$0"; exit 2 ;;
esac
command -v clang-format >/dev/null || { echo "format.sh: clang-format is missing (bash scripts/setup.sh)" >&2; exit 2; }

# The tracked sources, or every source below the top outside build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
else
  mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sed 's|^\./||' | sort)
fi

differ=0
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if [ $check = 1 ]; then
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      differ=1
    fi
  else
    clang-format --style=file -i "$f"
  fi
done
if [ $check = 1 ] && [ $differ = 1 ]; then
  echo "format.sh: the files above differ from .clang-format (bash scripts/format.sh rewrites them)" >&2
  exit 1
fi
exit 0
