#!/usr/bin/env bash
# The one-machine archive command of docs/user-guide.md, taken from between
# its markers and run as it stands on two generated nights: one whose run
# list answers the questions (its outputs and console must equal a plain run),
# one whose run list does not (status 1 at once instead of a wait).
# Usage: reprocess_archive_test.sh SOURCE_DIR TARNFITS MKNIGHT
set -euo pipefail
guide=$1/docs/user-guide.md
command=$(sed -n '/^# >>> one machine$/,/^# <<< one machine$/p' "$guide")
[ "$(wc -l <<<"$command")" -gt 2 ] || { echo "FAIL: no command marked in $guide" >&2; exit 1; }
scratch=$(mktemp -d /tmp/reprocess_test_XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/archive" "$scratch/bin"
ln -s "$2" "$scratch/bin/tarnfits"
"$3" "$scratch/a" --andor 1 >/dev/null
"$3" "$scratch/b" --andor 1 --no-directives >/dev/null
mv "$scratch/a/tarnfits" "$scratch/archive/night1"
mv "$scratch/b/tarnfits" "$scratch/archive/night2"
cp -r "$scratch/archive/night1" "$scratch/plain"
(cd "$scratch/plain" && "$2" </dev/null >"$scratch/plain.console")

cd "$scratch/archive"
PATH=$scratch/bin:$PATH timeout 120 bash -c "$command"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ "$(cat reprocess.status)" = $'0 night1/\n1 night2/' ] ||
  fail "reprocess.status holds:"$'\n'"$(cat reprocess.status)"
cmp -s night1/tarnfits.console "$scratch/plain.console" || fail "night1's console differs"
for output in "$scratch"/plain/*.fit; do
  cmp -s "$output" "night1/${output##*/}" || fail "night1/${output##*/} differs"
done
[ "$(tail -n 1 night2/tarnfits.console)" = 'CANNOT READ ANSWER (end of input)' ] ||
  fail "night2's console does not end at the first question"
[ -z "$(find night2 -name '*.fit')" ] || fail "night2 has outputs"
[ "$failures" -eq 0 ] && echo "reprocess_archive_test: both nights as documented"
