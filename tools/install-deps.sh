#!/usr/bin/env bash
# Installs the Debian packages that a part of the build needs and that are
# missing, and nothing when all are there. The Makefile runs it before every
# configure, and .ci/run through the Makefile.
#
#   tools/install-deps.sh GROUP...
#
# Groups: toolchain (cmake, g++, make), product (the writer and the
# rehearsal tools), tests, bench, fuzz (clang's libFuzzer and sanitizer
# runtimes), clang, valgrind. As root it
# uses apt-get, otherwise `sudo -n apt-get` (never a password prompt); when
# neither works it names the missing packages in one line and fails.
set -euo pipefail

# The packages of each group; adding one is a one-line change.
group_packages() {
  case $1 in
    toolchain) echo cmake g++ make ;;
    product) echo zlib1g-dev libdeflate-dev ;;
    tests) echo libgtest-dev libssl-dev iproute2 python3 ;;
    bench) echo libbenchmark-dev libssl-dev ;;
    fuzz) echo libssl-dev "libclang-rt-$(clang_major)-dev" ;;
    clang) echo clang ;;
    valgrind) echo valgrind ;;
    *)
      echo "tools/install-deps.sh: unknown group '$1'" >&2
      return 1
      ;;
  esac
}

clang_major() { clang++ -dumpversion 2>/dev/null | cut -d. -f1; }

# True when the package, or what it provides, is on the machine.
present() {
  case $1 in
    # Tools count as present when their command is, however they came.
    cmake | g++ | make | valgrind) command -v "$1" >/dev/null 2>&1 ;;
    clang) command -v clang++ >/dev/null 2>&1 ;;
    iproute2) command -v ip >/dev/null 2>&1 ;;
    libclang-rt-*-dev)
      compgen -G "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null
      ;;
    *) [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ] ;;
  esac
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "Not a Debian system: make sure the equivalents of these are installed:" \
    "$(for group in "$@"; do group_packages "$group"; done | tr '\n' ' ')"
  exit 0
fi

missing=()
for group in "$@"; do
  # The fuzz runtimes belong to the installed clang: clang comes first.
  if [ "$group" = fuzz ] && ! present clang; then
    "$0" clang
  fi
  packages=$(group_packages "$group")
  for pkg in $packages; do
    present "$pkg" || [[ " ${missing[*]} " == *" $pkg "* ]] || missing+=("$pkg")
  done
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  apt=(apt-get)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  apt=(sudo -n apt-get)
else
  echo "Missing packages: ${missing[*]} (install them as root: apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${apt[@]}" update -q >/dev/null
"${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" >/dev/null
