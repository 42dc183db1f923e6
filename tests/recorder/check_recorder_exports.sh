#!/usr/bin/env bash
# Fails when the shared recorder exports anything but its VOQRec_* functions,
# or lacks one that its header declares.
set -euo pipefail
lib="$1"
header="$(dirname "$0")/../../recorder/VOQRecorder.h"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' || true)
bad=$(printf '%s\n' "$symbols" | grep -Ev '^VOQRec_[A-Za-z0-9_]+$' | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
declared=$(grep -o 'VOQRec_[A-Za-z0-9_]*(' "$header" | tr -d '(' | sort -u)
for name in $declared; do
  printf '%s\n' "$symbols" | grep -qx "$name" || { echo "$name is declared but not exported"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$declared" | wc -l) VOQRec_ functions"
