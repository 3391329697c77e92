#!/usr/bin/env bash
# en-validate on hostile input: empty files, binary garbage, huge lines,
# invalid UTF-8, deep nesting of JSON and of groups.  Every run must end
# with a verdict or a clear error (exit 0, 1 or 2; for 2 a message on
# standard error, or an "error" line of --jsonl), never a crash, a hang or
# a stack overflow.
#
#   tool_robustness.sh SCRATCH-DIR TOOL [EMULATOR...]
set -euo pipefail
work=$1
shift
tool=("$@")
rm -rf "$work"
mkdir -p "$work"
cd "$work"

failures=0
cases=0
# check NAME ARGS...: runs the tool with the arguments.
check() {
  local name=$1
  shift
  cases=$((cases + 1))
  local rc=0
  timeout 300 "${tool[@]}" "$@" >out.txt 2>err.txt || rc=$?
  if [ $rc -gt 2 ]; then
    echo "FAIL $name: exit $rc ($(head -c 300 err.txt))"
    failures=$((failures + 1))
  elif [ $rc -eq 2 ] && [ ! -s err.txt ] && ! grep -q '^{"error": ' out.txt; then
    echo "FAIL $name: exit 2 without a message"
    failures=$((failures + 1))
  else
    echo "ok   $name: exit $rc $(cat err.txt out.txt | head -c 120 | head -n 1)"
  fi
}

# repeat TEXT COUNT: TEXT COUNT times, without a newline.
repeat() { head -c $(( ${#1} * $2 )) < <(yes "$1" | tr -d '\n'); }

msg='{"kind":"log","msgtype":1701,"entries":['
entry='{"id":2052,"type":"UINT32","value":1}'

: >empty.json
: >empty.blob
printf '\n\n  \n' >blank.jsonl
head -c 200000 "${tool[-1]}" >garbage.bin              # the program's own bytes
head -c 200000 "${tool[-1]}" | tr -d '\000' >garbage.txt  # the same without NUL bytes
{ printf '{'; head -c 5000 "${tool[-1]}" | tr -d '\000\n'; } >garbage.json
{ printf '%s' "$msg"; repeat "$entry," 2000000; printf '%s]}\n' "$entry"; } >huge-line.jsonl
{ printf '%s{"id":2008,"type":"WSTRING","value":"' "$msg"; repeat x 30000000; printf '"}]}\n'; } >huge-string.json
printf '%s{"id":2008,"type":"WSTRING","value":"\xff\xfe\xc3"}]}\n' "$msg" >bad-utf8.json
printf '{"kind":"log","msgtype":1701,"entries":[],"x":"\xed\xa0\x80\xf8\x88\x80\x80\x80"}\n' >bad-utf8.jsonl
{ printf '{"kind":"log","msgtype":1701,"entries":[],"x":'; repeat '[' 500000; repeat ']' 500000; printf '}\n'; } >deep-array.json
{ printf '{"kind":"log","msgtype":1701,"entries":'; repeat '[' 500000; repeat ']' 500000; printf '}\n'; } >deep-entries.json
{ printf '{"kind":"log","msgtype":1701,"entries":[],"x":'; repeat '{"a":' 300000; printf '0'; repeat '}' 300000; printf '}\n'; } >deep-object.json
repeat '[' 1000000 >unclosed.json
{ printf '%s' "$msg"; repeat '{"id":3002,"type":"GROUP"},' 100000; printf '{"id":3002,"type":"GROUP"}]}\n'; } >deep-groups.json
{ printf '%s' "$msg"; repeat '{"id":3002,"type":"END_OF_GROUP"},' 100000; printf '{"id":0,"type":"END_OF_GROUP"}]}\n'; } >deep-ends.json

check "empty JSON file" empty.json
check "empty blob" --log 1501 empty.blob
check "empty JSON Lines" --jsonl empty.json
check "blank JSON Lines" --jsonl blank.jsonl
check "decode empty" --decode empty.blob
check "garbage as blob" --log 1501 garbage.bin
check "garbage as registration blob" --register garbage.bin
check "garbage decoded" --decode garbage.bin
check "garbage as JSON Lines" --jsonl garbage.txt
check "garbage after a brace" garbage.json
check "garbage encoded" --encode garbage.json
check "huge line" --jsonl huge-line.jsonl
check "huge string" huge-string.json
check "invalid UTF-8 in a value" bad-utf8.json
check "invalid UTF-8 in JSON Lines" --jsonl bad-utf8.jsonl
check "deep array in an ignored key" deep-array.json
check "deep array in JSON Lines" --jsonl deep-array.json
check "deep array as entries" deep-entries.json
check "deep object" deep-object.json
check "unclosed arrays" unclosed.json
check "unclosed arrays in JSON Lines" --jsonl unclosed.json
check "100000 nested groups" deep-groups.json
check "100000 group ends" deep-ends.json
check "nested groups encoded" --encode deep-groups.json -o deep-groups.blob
check "nested groups decoded" --decode deep-groups.blob
check "nested groups as blob" --log 1701 deep-groups.blob
check "missing file" no-such-file.json

echo "$((cases - failures)) passed, $failures failed"
[ $failures -eq 0 ]
