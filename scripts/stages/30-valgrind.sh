#!/usr/bin/env bash
# Every test program of the x86_64 build (build/) under valgrind's memcheck:
# no invalid access, no use of uninitialised memory, nothing definitely
# lost.  Programs with their own allocator are left out; test scripts and
# the programs they start are not traced.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/stages/lib/common.sh

start=$SECONDS
tested=${EN_STAGE_BUILD:-build}
out=build-valgrind
mkdir -p "$out"
ctest --test-dir "$tested" --show-only=json-v1 >"$out/tests.json"
cmake -DJSON="$out/tests.json" -DOUT="$out/commands.txt" -DBUILD="$(cd "$tested" && pwd)" \
      -P scripts/stages/lib/valgrind-commands.cmake
section "valgrind memcheck over $(wc -l <"$out/commands.txt") test programs of $tested/"
pids=()
names=()
n=0
# failed NAME|LOG: valgrind's findings (exit 99) or the program's failure.
failed() {
  local name=${1%|*} log=${1#*|}
  echo "!! under valgrind: $name" >&2
  grep -E "^==[0-9]+== +(Invalid|Conditional|Use of|Mismatched|[0-9,]+ bytes in .* definitely)" "$log.valgrind" | head -n 20 >&2 || true
  tail -n 30 "$log" >&2
  exit 1
}
# Two programs at a time, each with its own log.
while IFS=$'\t' read -r dir exe args; do
  n=$((n + 1))
  log=$PWD/$out/$(basename "$exe").$n.log
  # shellcheck disable=SC2086
  (cd "$dir" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
     --show-leak-kinds=definite --track-origins=yes --log-file="$log.valgrind" "$exe" $args >"$log" 2>&1) &
  pids+=($!)
  names+=("$exe $args|$log")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed "${names[0]}"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done <"$out/commands.txt"
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed "${names[$i]}"
done
echo "   $n programs clean; $((SECONDS - start))s"
