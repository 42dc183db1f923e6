#!/usr/bin/env bash
# Fails when a shared library beside libVOQ exports anything but the functions
# of its C interface, or lacks one that its header declares.
#
#   check_recorder_exports.sh LIB [HEADER PREFIX]
#
# Without HEADER and PREFIX: the recorder (recorder/VOQRecorder.h, VOQRec_).
set -euo pipefail
lib="$1"
header="${2:-$(dirname "$0")/../../recorder/VOQRecorder.h}"
prefix="${3:-VOQRec_}"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' || true)
bad=$(printf '%s\n' "$symbols" | grep -Ev "^${prefix}[A-Za-z0-9_]+\$" | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
declared=$(grep -o "${prefix}[A-Za-z0-9_]*(" "$header" | tr -d '(' | sort -u)
for name in $declared; do
  printf '%s\n' "$symbols" | grep -qx "$name" || { echo "$name is declared but not exported"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$declared" | wc -l) ${prefix} functions"
