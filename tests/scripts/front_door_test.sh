#!/usr/bin/env bash
# The front-door scripts' command lines: what each accepts, what it refuses
# (exit 2 with its usage on stderr), and run.sh's settings for the simulated
# camera. run.sh stops after reading its command line (TARNSCSI_RUN_DRY), so
# nothing is built or installed here.
#
#   front_door_test.sh SCRIPTS
#   front_door_test.sh --run-configure SCRIPTS
#
# --run-configure: run.sh's configure, into a scratch build tree, needs
# nothing beyond the package lists run.sh installs. The programs that only
# the other lists bring (chromium, QEMU, clang, ...) are hidden from CMake:
# it searches a folder that links every other program on the machine and
# none of the system's own. Libraries found through pkg-config are hidden
# the same way (pkg-config searches a folder that links every other package
# file); those CMake finds by its own package files cannot be, and are not.
set -uo pipefail
if [ "$1" = --run-configure ]; then
  scripts=$2
  command -v dpkg-query >/dev/null || { echo "SKIP: no dpkg here to say which package has which program"; exit 77; }
  read -ra run_lists < <(sed -n 's/^lists=(\(.*\))$/\1/p' "$scripts/run.sh")
  [ ${#run_lists[@]} -gt 0 ] || { echo "FAIL: no lists=(...) in $scripts/run.sh" >&2; exit 1; }
  work=$(mktemp -d "${TMPDIR:-/tmp}/run-configure.XXXXXX")
  trap 'rm -rf "$work"' EXIT

  packages_of() { grep -hv '^\s*\(#\|$\)' "$@"; }
  wanted=" $(for list in "${run_lists[@]}"; do packages_of "$scripts/packages/$list.txt"; done | tr '\n' ' ') "
  declare -A hidden=()
  hidden_names=()
  for list in "$scripts"/packages/*.txt; do
    for package in $(packages_of "$list"); do
      [[ "$wanted" == *" $package "* ]] && continue
      while IFS= read -r file; do
        [ -e "$file" ] || continue
        hidden[$(realpath -e "$file")]=1
        hidden_names+=("${file##*/}")
      done < <(dpkg -L "$package" 2>/dev/null | grep -E '/s?bin/[^/]+$|/pkgconfig/[^/]+\.pc$')
    done
  done
  # Every other package file of pkg-config's search path, by the first
  # folder that has it.
  mkdir "$work/pkgconfig"
  IFS=: read -ra pc_folders <<<"$(pkg-config --variable pc_path pkg-config 2>/dev/null)"
  for folder in "${pc_folders[@]}"; do
    for file in "$folder"/*.pc; do
      [ -e "$file" ] && [ -z "${hidden[$(realpath -e "$file")]:-}" ] || continue
      [ -e "$work/pkgconfig/${file##*/}" ] || ln -s -- "$file" "$work/pkgconfig/"
    done
  done
  # Every other program, by the first folder of the search path that has it.
  mkdir "$work/bin"
  declare -A linked=()
  folders=()
  IFS=: read -ra folders <<<"$PATH"
  folders+=(/usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin)
  for folder in "${folders[@]}"; do
    [ -d "$folder" ] || continue
    programs=("$folder"/*)
    [ -e "${programs[0]}" ] || continue
    mapfile -t real < <(realpath -m -- "${programs[@]}")
    links=()
    for i in "${!programs[@]}"; do
      program=${programs[$i]}
      [ -f "$program" ] && [ -x "$program" ] || continue
      [ -z "${linked[${program##*/}]:-}" ] && [ -z "${hidden[${real[$i]}]:-}" ] || continue
      linked[${program##*/}]=1
      links+=("$program")
    done
    [ ${#links[@]} -eq 0 ] || ln -s -t "$work/bin" -- "${links[@]}"
  done
  ignored=$(printf '%s;' "${folders[@]}")
  cat >"$work/hide.cmake" <<HIDE
set(CMAKE_IGNORE_PATH "${ignored%;}")
set(CMAKE_PROGRAM_PATH "$work/bin")
HIDE
  echo "Hidden (only in lists run.sh does not install): $(printf '%s\n' "${hidden_names[@]}" | sort -u | tr '\n' ' ')"
  output=$(CMAKE_TOOLCHAIN_FILE="$work/hide.cmake" PKG_CONFIG_LIBDIR="$work/pkgconfig" PKG_CONFIG_PATH= \
           TARNSCSI_RUN_CONFIGURE_ONLY="$work/build" \
           bash "$scripts/run.sh" 2>&1)
  status=$?
  built="Building the module and its ASPI managers, the tarnscsi tool, the INDI driver, the Alpaca server"
  if [ "$status" -ne 0 ] || ! grep -qF -- "$built" <<<"$output"; then
    echo "$output" >&2
    echo "FAIL: run.sh's configure (lists ${run_lists[*]}) exits $status; want 0 and \"$built\"" >&2
    exit 1
  fi
  echo "run.sh's configure needs only the lists ${run_lists[*]}"
  exit 0
fi
scripts="$1"
failures=0

# expect NAME EXIT-CODE OUTPUT-PATTERN COMMAND...
expect() {
  local name=$1 code=$2 pattern=$3
  shift 3
  local output rc
  output=$("$@" 2>&1)
  rc=$?
  if [ "$rc" -ne "$code" ] || ! grep -qE -- "$pattern" <<<"$output"; then
    echo "FAIL $name: exit $rc (want $code), output:" >&2
    echo "$output" >&2
    failures=$((failures + 1))
  fi
}

export TARNSCSI_RUN_DRY=1
unset TARNSCSI_SIM
run="$scripts/run.sh"
expect "default"            0 '^real=0 seconds=1 sim=time-scale=0.1$' bash "$run"
expect "seconds"            0 '^real=0 seconds=5 ' bash "$run" 5
expect "real first"         0 '^real=1 seconds=5 sim=$' bash "$run" --real 5
expect "real second"        0 '^real=1 seconds=5 sim=$' bash "$run" 5 --real
expect "help"               0 '^Usage: scripts/run.sh' bash "$run" --help
expect "help not seconds"   0 '^Usage: scripts/run.sh' bash "$run" 5 -h
expect "unknown option"     2 "unknown option '--bogus'" bash "$run" --bogus
expect "not a number"       2 "'abc' is not a number of seconds" bash "$run" abc
expect "negative"           2 "'-1' must not be negative" bash "$run" -1
expect "two times"          2 "more than one exposure time" bash "$run" 1 2
# The caller's settings come after the script's: the simulator applies them
# left to right, so the caller's time-scale wins.
expect "user settings kept" 0 'sim=time-scale=0.1,time-scale=0,seed=7$' \
  env TARNSCSI_SIM=time-scale=0,seed=7 bash "$run"

deps="$scripts/install-deps.sh"
expect "deps help"          0 '^Sets: .*core.*tools' bash "$deps" --help
expect "deps unknown set"   2 "unknown package set 'indy'" bash "$deps" indy
expect "deps unknown later" 2 "unknown package set 'nope'" bash "$deps" core nope

if [ "$failures" -ne 0 ]; then
  echo "$failures front-door checks failed" >&2
  exit 1
fi
echo "front-door checks passed"
