#!/usr/bin/env bash
# The i386 and x86_64 builds must give identical codes and texts: a packed
# corpus of at least 100,000 messages (reference cases, examples, the kept
# fuzz corpora, seeded mutations) is validated by the corpus runner of each
# build (i386 under qemu-i386) and the outputs compared.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/stages/lib/common.sh

start=$SECONDS
x86=${EN_STAGE_BUILD:-build}
i386=${EN_STAGE_BUILD_I386:-build-i386}
out=build-wordsizes
mkdir -p "$out"
section "i386 and x86_64 agree"
"$x86/bin/en_corpus_tool" pack "$out/corpus.pack" "${EN_WORDSIZE_MESSAGES:-100000}" \
  --json tests/conformance/cases.jsonl --json examples --blobs fuzz/corpus/blob --streams fuzz/corpus/entries \
  >"$out/pack.log" 2>&1 || fail "packing the corpus" "$out/pack.log"
sed 's/^/   corpus: /' "$out/pack.log"
"$x86/bin/en_corpus_runner" "$out/corpus.pack" "$out/x86_64.txt" 2>"$out/x86_64.log" ||
  fail "x86_64 corpus runner" "$out/x86_64.log"
qemu-i386 "$i386/bin/en_corpus_runner" "$out/corpus.pack" "$out/i386.txt" 2>"$out/i386.log" ||
  fail "i386 corpus runner" "$out/i386.log"
sed 's/^/   x86_64: /' "$out/x86_64.log"
sed 's/^/   i386:   /' "$out/i386.log"
if ! cmp -s "$out/x86_64.txt" "$out/i386.txt"; then
  echo "!! the word sizes disagree; first differences (line: x86_64 | i386):" >&2
  diff "$out/x86_64.txt" "$out/i386.txt" | head -n 20 >&2
  exit 1
fi
echo "   $(wc -l <"$out/x86_64.txt") results identical; $((SECONDS - start))s"
