#!/usr/bin/env bash
# Installs the Debian packages named in scripts/packages/<set>.txt for each
# set given (default: core), and only those that are missing. The set name
# "linux" stands for every list but the Windows one (which needs the i386
# architecture first: scripts/install-windows-deps.sh). Needs root (or sudo)
# when something must be installed.
#
# An index that `apt-get update` cannot fetch (a mirror in the middle of a
# sync) is named loudly and tried again (TARNSCSI_APT_ATTEMPTS times in all,
# default 3, TARNSCSI_APT_PAUSE seconds apart, default 60); if it still
# fails, the packages come from every other source, its own left out of
# this install. No package is ever left out: one that cannot be had fails
# the script.
#
# TARNSCSI_APT_UPDATE=1 refreshes the package lists (as above) even when no
# package is missing: for a source just added (install-windows-deps.sh adds
# Debian 12's source packages).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

known=()
for list in "$here"/packages/*.txt; do known+=("$(basename "$list" .txt)"); done
usage() {
  cat <<USAGE
Usage: scripts/install-deps.sh [SET...]

Installs the missing Debian packages of each SET (default: core).
Sets: ${known[*]}, and linux (every set but windows).
USAGE
}

sets=()
for set in "$@"; do
  case "$set" in
    -h|--help) usage; exit 0 ;;
  esac
  if [ "$set" != linux ] && [ ! -f "$here/packages/$set.txt" ]; then
    echo "install-deps.sh: unknown package set '$set'" >&2
    usage >&2
    exit 2
  fi
  if [ "$set" = linux ]; then
    for list in "$here"/packages/*.txt; do
      name=$(basename "$list" .txt)
      [ "$name" = windows ] || sets+=("$name")
    done
  else
    sets+=("$set")
  fi
done
[ ${#sets[@]} -gt 0 ] || sets=(core)

missing=()
declare -A seen=()
for set in "${sets[@]}"; do
  while read -r package; do
    [ -z "${seen[$package]:-}" ] || continue
    seen[$package]=1
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done < <(grep -v '^\s*\(#\|$\)' "$here/packages/$set.txt")
done
if [ ${#missing[@]} -eq 0 ] && [ "${TARNSCSI_APT_UPDATE:-0}" = 0 ]; then
  exit 0
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
else
  echo "Refreshing the package lists (TARNSCSI_APT_UPDATE=$TARNSCSI_APT_UPDATE)"
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt_get=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
# apt and dpkg talk a lot; their words are kept in a log and shown only when
# something goes wrong.
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnscsi-apt.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/apt.log

source "$(dirname "${BASH_SOURCE[0]}")/loud.sh"

# The indexes an `apt-get update` could not fetch, from its log: one line
# "URL<TAB>apt's reason" each. A mirror in the middle of a sync serves a
# Release file that does not match its indexes for a while ("File has
# unexpected size ... Mirror sync in progress?", "Hash Sum mismatch").
failed_indexes() {
  sed -n -e 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1\t\2/p' \
    -e "s/^[EW]: The repository '\\([^ ]*\\) \\([^ ]*\\) \\([^ ']*\\)' \\(.*\\)$/\\1\\/dists\\/\\2\\/\\3\\t\\4/p" "$1"
}

# Copies the sources of apt (sources.list and the .list and .sources files
# of sources.list.d) into DIR, leaving out each source (a URI and suite)
# that one of the URLs in FAILED belongs to (URI/dists/SUITE/...).
sources_without() {
  local dir=$1 failed=$2 list parts file
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  mkdir -p "$dir/parts"
  : >"$dir/sources.list"
  [ ! -f "$list" ] || leave_out "$failed" one-line <"$list" >"$dir/sources.list"
  for file in "$parts"/*.list "$parts"/*.sources; do
    [ -f "$file" ] || continue
    case "$file" in
      *.list) leave_out "$failed" one-line <"$file" >"$dir/parts/${file##*/}" ;;
      *) leave_out "$failed" deb822 <"$file" >"$dir/parts/${file##*/}" ;;
    esac
  done
}

# leave_out FAILED FORMAT: a sources file (stdin, one-line or deb822) without
# the sources that the URLs in the file FAILED belong to.
leave_out() {
  awk -v failed_file="$1" -v format="$2" '
    BEGIN { while ((getline line < failed_file) > 0) { split(line, f, "\t"); failed[++n] = f[1] } }
    function fails(uri, suite,   i, prefix) {
      sub(/\/+$/, "", uri)
      prefix = uri "/dists/" suite "/"
      for (i = 1; i <= n; i++) if (index(failed[i], prefix) == 1) return 1
      return 0
    }
    format == "one-line" {
      line = $0
      sub(/^[ \t]+/, "", line)
      if (line ~ /^deb(-src)?[ \t]/) {
        sub(/^deb(-src)?[ \t]+/, "", line)
        if (line ~ /^\[/) sub(/^\[[^]]*\][ \t]*/, "", line)
        split(line, word, /[ \t]+/)
        if (fails(word[1], word[2])) { print "# left out (an index failed): " $0; next }
      }
      print
      next
    }
    # deb822: a paragraph per source; continuation lines start with a blank.
    function flush(   i, j, k, kept, nu, ns, uris, suites) {
      if (lines == 0) return
      nu = split(value["uris"], uris, /[ \t]+/)
      ns = split(value["suites"], suites, /[ \t]+/)
      for (i = 1; i <= nu; i++) {
        if (uris[i] == "") continue
        kept = ""
        for (j = 1; j <= ns; j++) if (suites[j] != "" && !fails(uris[i], suites[j])) kept = kept " " suites[j]
        if (kept == "") { print "# left out (an index failed): " uris[i] " " value["suites"]; continue }
        for (k = 1; k <= lines; k++) {
          if (field[k] == "uris") print "URIs: " uris[i]
          else if (field[k] == "suites") print "Suites:" kept
          else if (field[k] != "-") print text[k]
        }
        print ""
      }
      if (nu == 0) { for (k = 1; k <= lines; k++) print text[k]; print "" }
      lines = 0; delete value
    }
    /^[ \t]*$/ { flush(); next }
    /^#/ { print; next }
    /^[ \t]/ {
      text[++lines] = $0
      field[lines] = (current != "") ? "-" : ""  # a URI or suite is printed with its field
      if (current != "") value[current] = value[current] " " $0
      next
    }
    {
      name = tolower($0); sub(/:.*/, "", name)
      body = $0; sub(/^[^:]*:[ \t]*/, "", body)
      current = (name == "uris" || name == "suites") ? name : ""
      if (current != "") value[current] = body
      text[++lines] = $0; field[lines] = current
    }
    END { if (format == "deb822") flush() }
  '
}

# The package lists: a failed index is said loudly and tried again, a
# bounded number of times with a pause between; what still fails is left
# out of this install, with every other index as it is (leaving out a whole
# source, not one of its indexes, so that versions from it never mix with
# another source's: wine32:i386 must be the version of wine).
attempts=${TARNSCSI_APT_ATTEMPTS:-3}
pause=${TARNSCSI_APT_PAUSE:-60}
failed=$work/failed
source_options=()
attempt=1
while :; do
  status=0
  "${apt_get[@]}" update -q >"$log" 2>&1 || status=$?
  failed_indexes "$log" >"$failed"
  if [ "$status" -eq 0 ] && [ ! -s "$failed" ]; then
    break
  fi
  if [ ! -s "$failed" ]; then
    cat "$log" >&2
    echo "install-deps.sh: apt-get update failed (exit $status), and names no index that failed: see above." >&2
    exit 1
  fi
  lines=("apt-get update (attempt $attempt of $attempts) could not fetch:")
  while IFS=$'\t' read -r url reason; do lines+=("  $url" "    $reason"); done <"$failed"
  if [ "$attempt" -lt "$attempts" ]; then
    loud "${lines[@]}" "Trying again in $pause s (a mirror in the middle of a sync is right again soon)."
    sleep "$pause"
    attempt=$((attempt + 1))
    continue
  fi
  sources_without "$work/sources" "$failed"
  loud "${lines[@]}" "Installing from the other sources: the source of each index above is left out of" \
       "this install (a source is a URI and suite), so that its packages do not mix with the others'." \
       "Try again later to have them from every source."
  grep -h '^# left out' "$work/sources/sources.list" "$work/sources/parts/"* 2>/dev/null | sed 's/^# /  /' >&2 || true
  source_options=(-o "Dir::Etc::sourcelist=$work/sources/sources.list" -o "Dir::Etc::sourceparts=$work/sources/parts")
  break
done

[ ${#missing[@]} -gt 0 ] || exit 0
if ! "${apt_get[@]}" "${source_options[@]}" install -y -q --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
  cat "$log" >&2
  if [ ${#source_options[@]} -gt 0 ]; then
    echo "Installing the packages above failed from the sources that answered (the failed ones above were left out)." >&2
  else
    echo "Installing the packages above failed." >&2
  fi
  exit 1
fi
echo "Installed ${#missing[@]} packages."
