#!/usr/bin/env bash
# Fails when the shared library exports anything but VOQ_* and Load_VOQ_API.
set -euo pipefail
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' || true)
bad=$(printf '%s\n' "$symbols" | grep -Ev '^(VOQ_[A-Za-z0-9_]+|Load_VOQ_API)$' | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
count=$(printf '%s\n' "$symbols" | grep -c '^VOQ_' || true)
if [ "$count" -lt 8 ]; then echo "too few VOQ_ exports ($count)"; exit 1; fi
printf '%s\n' "$symbols" | grep -qx 'Load_VOQ_API' || { echo "Load_VOQ_API missing"; exit 1; }
echo "exports ok: $count VOQ_ functions and Load_VOQ_API"
