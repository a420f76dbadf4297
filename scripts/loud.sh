# Sourced by the scripts: `loud LINE...` prints its lines framed, on
# standard error, so that what must not pass unseen (a mirror in the middle
# of a sync, a half of the suite that did not run) stands out in a long log.
loud() {
  {
    echo
    echo "!!! ================================================================="
    printf '!!! %s\n' "$@"
    echo "!!! ================================================================="
    echo
  } >&2
}
