#!/usr/bin/env bash
# Installs a build into a temporary prefix (not the one configured), moves the
# installed tree elsewhere, and builds and runs the C header test against it
# with nothing but pkg-config: the pkg-config file must name the directories
# where the files really are.
#
#   check_installed_package.sh BUILD_DIR C_SOURCE
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
pcfile=$(find "$work/moved" -name voq.pc -path '*/pkgconfig/*' | head -n 1)
if [ -z "$pcfile" ]; then
  echo "no pkgconfig/voq.pc was installed"; exit 1
fi

export PKG_CONFIG_PATH=$(dirname "$pcfile")
flags=$(pkg-config --cflags --libs voq)
echo "pkg-config --cflags --libs voq: $flags"
libdir=$(pkg-config --variable=libdir voq)
case "$flags" in
  *"$work/moved"*) ;;
  *) echo "the flags do not name the installed tree $work/moved"; exit 1 ;;
esac

# Word splitting of $flags is intended: it is a list of compiler options.
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror "$source" $flags -o "$work/program"
LD_LIBRARY_PATH=$libdir "$work/program"
