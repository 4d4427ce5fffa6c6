#!/usr/bin/env bash
# Installs the Debian 12 packages that one use of this project needs, and only
# those that are missing. The README's commands and CI call it.
#
#   tools/install-prerequisites.sh run        build and run: factorize_ZOVE and factorize_check
#   tools/install-prerequisites.sh pictures   run, and draw a run's pictures (matplotlib)
#   tools/install-prerequisites.sh test       pictures, and every tool the tests use
#   tools/install-prerequisites.sh --list SET  print SET's packages, one per line
#
# It says what it installs, and says so in one line and changes nothing when
# every package is present. As a user other than root it goes through sudo
# (which asks for a password only when a terminal is there to answer).
# apt-get runs without questions. Exit status: 0 when every package of SET is
# installed afterwards; 1 when they cannot be installed, with the reason;
# 2 for a wrong argument.
set -uo pipefail

readonly run_packages=(g++ cmake ninja-build libcli11-dev nlohmann-json3-dev)
# About a hundred packages more on a bare machine; a fleet that compares its
# records elsewhere does without them.
readonly pictures_packages=("${run_packages[@]}" python3-matplotlib)
# clang, libomp-dev and libclang-rt-dev: the clang comparison build, the race
# checks and the fuzzers; binutils: objdump reads the machine code; gdb counts
# executed divisions; util-linux: taskset.
readonly test_packages=("${pictures_packages[@]}" libgtest-dev clang libomp-dev libclang-rt-dev binutils gdb util-linux)

me=${0##*/}

# Prints the usage to standard error and exits with status 2.
usage() {
  echo "usage: $me run|pictures|test" >&2
  echo "       $me --list run|pictures|test" >&2
  exit 2
}

# Exits with status 1 after saying why nothing more can be done.
fail() {
  echo "$me: $*" >&2
  exit 1
}

# Sets the array `packages` to the set named $1, or exits with the usage.
choose_set() {
  case ${1-} in
    run) packages=("${run_packages[@]}") ;;
    pictures) packages=("${pictures_packages[@]}") ;;
    test) packages=("${test_packages[@]}") ;;
    *) usage ;;
  esac
}

# Sets the array `missing` to the packages of `packages` that dpkg does not
# have installed.
find_missing() {
  missing=()
  local p
  for p in "${packages[@]}"; do
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null) == installed ]] || missing+=("$p")
  done
}

if [[ ${1-} == --list ]]; then
  [[ $# -eq 2 ]] || usage
  choose_set "$2"
  printf '%s\n' "${packages[@]}"
  exit 0
fi
[[ $# -eq 1 ]] || usage
set_name=$1
choose_set "$set_name"

command -v dpkg-query >/dev/null && command -v apt-get >/dev/null ||
  fail "this is not a Debian system (no dpkg-query or apt-get); install by hand the equivalents of: ${packages[*]}"

find_missing
if [[ ${#missing[@]} -eq 0 ]]; then
  echo "$me: the ${#packages[@]} packages for '$set_name' are present; nothing to install"
  exit 0
fi

as_root=()
if [[ $(id -u) != 0 ]]; then
  command -v sudo >/dev/null ||
    fail "installing needs root, and this is user $(id -un 2>/dev/null || id -u) without sudo. As root, run:
  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  # Without a terminal a password prompt would wait forever: ask sudo not to.
  if [[ -t 0 ]]; then as_root=(sudo); else as_root=(sudo -n); fi
  "${as_root[@]}" true ||
    fail "sudo would not let user $(id -un 2>/dev/null || id -u) act as root (above). As root, run:
  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
fi

echo "$me: installing ${#missing[@]} of the ${#packages[@]} packages for '$set_name': ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
  fail "apt-get update failed (above): no package source could be read. Check the network and /etc/apt/sources.list; still missing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
  fail "apt-get install failed (above); a package that no source offers needs Debian 12's main archive in /etc/apt/sources.list. Still missing: ${missing[*]}"

# apt-get may succeed and still leave a package out (held, or replaced by
# another that provides it); say so rather than let the build find out.
find_missing
[[ ${#missing[@]} -eq 0 ]] || fail "apt-get finished, yet these are not installed: ${missing[*]}"
echo "$me: installed; the ${#packages[@]} packages for '$set_name' are present"
