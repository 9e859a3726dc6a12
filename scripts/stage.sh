# Sourced by the scripts that run the suite: `stage NAME COMMAND...` runs
# COMMAND between two lines that name it, the second with its time, so that a
# log shows what each part of a run costs.
stage() {
  local name=$1 started=$SECONDS status=0
  shift
  echo "== $name"
  "$@" || status=$?
  echo "== $name: $((SECONDS - started)) s$([ "$status" -eq 0 ] || echo ", FAILED (exit $status)")"
  return "$status"
}
