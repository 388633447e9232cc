#!/usr/bin/env bash
# Configures a CMake build directory when it has not been configured yet or
# when one of the given settings differs from its cache; otherwise does
# nothing. A configure that fails leaves the directory unconfigured (no
# cache, no build file), so that the next make starts it over instead of
# failing on a half-made directory. Ninja is used when it is installed.
#
#   tools/configure.sh BUILD_DIR [-DNAME=VALUE...]
#
# Values are compared literally with the cache (ON, OFF, Release, ...).
set -euo pipefail
dir=$1
shift
cache=$dir/CMakeCache.txt

configured_as_asked() {
  [ -f "$cache" ] && { [ -f "$dir/build.ninja" ] || [ -f "$dir/Makefile" ]; } || return 1
  local setting name value
  for setting in "$@"; do
    setting=${setting#-D}
    name=${setting%%=*}
    value=${setting#*=}
    grep -qxF -e "$name:BOOL=$value" -e "$name:STRING=$value" -e "$name:PATH=$value" \
      -e "$name:UNINITIALIZED=$value" "$cache" || return 1
  done
}

configured_as_asked "$@" && exit 0
generator=()
if [ ! -f "$cache" ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if ! cmake -S . -B "$dir" "${generator[@]}" "$@"; then
  rm -f "$cache" "$dir/build.ninja" "$dir/Makefile"
  echo "The configure failed; $dir is left unconfigured, and the next make starts it over." >&2
  exit 1
fi
