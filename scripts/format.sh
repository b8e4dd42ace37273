#!/bin/sh
# Checks that every tracked C++ source follows .clang-format, or with --fix
# rewrites them in place. Exits 1 and lists the files that differ.
# Usage: scripts/format.sh [--fix]
set -eu
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
    scripts/install-deps.sh clang-format-14
    formatter=clang-format-14
fi
files=$(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    $formatter -i $files
    exit 0
fi
status=0
for file in $files; do
    if ! $formatter --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file (scripts/format.sh --fix rewrites it)"
        status=1
    fi
done
exit $status
