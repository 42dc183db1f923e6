#!/usr/bin/env bash
# Runs the Python binding's tests against one build directory.
#
#   python/run_tests.sh [BUILD_DIR] [pytest arguments...]
#
# BUILD_DIR (default: build/ of the repository) must hold the VOQ library and
# simulator/voq-sim.  The tests use /usr/bin/python3 (numpy, MNE, matplotlib
# and pytest come from Debian packages there); set PYTHON to use another.
# "No tests collected" counts as a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
if [ ! -d "$build" ]; then
  echo "run_tests.sh: no build directory $build" >&2
  exit 1
fi
build=$(cd "$build" && pwd)

python=${PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=$(command -v python3)

name=$("$python" -c 'import runpy, sys; print(runpy.run_path(sys.argv[1])["library_file_name"]())' \
  "$here/voq/_names.py") || exit 1
library=$build/$name
if [ ! -e "$library" ]; then
  echo "run_tests.sh: $library does not exist (build the VOQ target)" >&2
  exit 1
fi
if grep -Eq '^VOQ_SANITIZE:[A-Z]*=.+' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "run_tests.sh: $build is a sanitizer build, which Python cannot load; use a plain build" >&2
  exit 1
fi
simulator=""
for candidate in "$build/simulator/voq-sim" "$build/voq-sim"; do
  if [ -x "$candidate" ]; then simulator=$candidate; break; fi
done
if [ -z "$simulator" ]; then
  echo "run_tests.sh: no voq-sim program in $build (build the voq-sim target)" >&2
  exit 1
fi

export VOQ_LIBRARY=$library
export VOQ_SIM=$simulator
export PYTHONPATH=$here${PYTHONPATH:+:$PYTHONPATH}
export PYTHONDONTWRITEBYTECODE=1
cd "$here"
"$python" -m pytest tests -q -p no:cacheprovider "$@"
status=$?
if [ $status -eq 5 ]; then
  echo "run_tests.sh: no tests were collected" >&2
  exit 1
fi
exit $status
