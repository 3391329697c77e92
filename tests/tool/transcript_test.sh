#!/usr/bin/env bash
# en-validate as its users run it, against a transcript: the tool runs once
# per line of CASES (its arguments as sh words, paths relative to the
# project root, then "< FILE" for standard input, else none), and the
# transcript (each command line, the standard output, the standard error
# with "stderr: " before each line, the exit status) must equal EXPECTED.
# EN_GOLDEN_UPDATE=1 rewrites EXPECTED instead, to be reviewed as a diff.
#
#   transcript_test.sh ROOT CASES EXPECTED [EMULATOR...] TOOL
set -u
root=$1 cases=$2 expected=$3
shift 3
tool=("$@")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/en-transcript.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$root" || exit 2
export LC_ALL=C  # file name patterns expand in one order

while IFS= read -r line; do
  case "$line" in '' | '#'*) continue ;; esac
  echo "\$ en-validate $line"
  input=/dev/null
  if [[ $line == *' < '* ]]; then
    input=${line##* < }
    line=${line% < *}
  fi
  eval "set -- $line"
  rc=0
  "${tool[@]}" "$@" <"$input" >"$scratch/out" 2>"$scratch/err" || rc=$?
  cat "$scratch/out"
  [ -s "$scratch/out" ] && [ -n "$(tail -c 1 "$scratch/out")" ] && echo " [no newline at the end]"
  sed 's/^/stderr: /' "$scratch/err"
  echo "exit $rc"
done <"$cases" >"$scratch/transcript"

if [ -n "${EN_GOLDEN_UPDATE:-}" ]; then
  cp "$scratch/transcript" "$expected"
  echo "rewrote $expected"
  exit 0
fi
diff -u "$expected" "$scratch/transcript" && echo "$(grep -c '^\$ ' "$expected") commands as in the transcript"
