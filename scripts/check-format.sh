#!/bin/sh
# Checks that every C++ file git tracks is formatted as .clang-format says; prints the files
# that are not and fails. With --fix, formats them in place instead.
set -e
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null 2>&1 || { echo "check-format: clang-format not installed"; exit 1; }
files=$(git ls-files '*.cpp' '*.h' 'ipc/Ostrel')
if [ "$1" = "--fix" ]; then
  # shellcheck disable=SC2086
  clang-format -i $files
  exit 0
fi
bad=""
for f in $files; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad="$bad $f"
done
if [ -n "$bad" ]; then
  echo "check-format: not formatted as .clang-format says (scripts/check-format.sh --fix):"
  for f in $bad; do echo "  $f"; done
  exit 1
fi
echo "check-format: $(echo "$files" | wc -w) files formatted"
