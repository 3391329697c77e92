#!/usr/bin/env bash
# en-validate given every kind of bad input among valid files, and output
# that cannot be written: each bad input gets its own error on standard
# error naming the file and the place, every other file still gets its
# verdict, the exit status is 2; a closed pipe ends the run quietly; an
# earlier -o FILE survives every error; pipes and FIFOs read as files.  Then
# hostile input (binary garbage, huge lines and strings, deep nesting of
# groups), which must end with a verdict or an error, never a crash or a
# hang.
#
#   bad_input_test.sh SCRATCH-DIR EXAMPLES-DIR [EMULATOR...] TOOL
set -euo pipefail
work=$1
examples=$2
shift 2
tool=("$@")
rm -rf "$work"
mkdir -p "$work"
cd "$work"

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
# expect NAME WANT GOT
expect() { [ "$2" = "$3" ] || fail "$1: expected
$2
--- got
$3"; }
# run ARGS...: the tool's exit status in rc, its output in out.txt, err.txt.
run() { rc=0; timeout 300 "${tool[@]}" "$@" >out.txt 2>err.txt || rc=$?; }

# repeat TEXT COUNT: TEXT COUNT times, without a newline.
repeat() { head -c $(( ${#1} * $2 )) < <(yes "$1" | tr -d '\n'); }

ok=ok.json
cp "$examples/valid/1501-event.json" $ok
mkdir dir
: >empty.json
printf '\n \t\n' >blank.json
printf '[{"kind": "log"}]\n' >array.json
iconv -f UTF-8 -t UTF-16 $ok >utf16.json
printf '{"kind": "log",\n "msgtype": 1e400, "entries": []}\n' >huge-number.json
printf '{"kind": "log", "msgtype": 1501, "entries": [{"id": 18446744073709551616, "type": 3, "raw": ""}]}' >uint64.json
{ printf '{"kind": "log", "msgtype": 1501, "entries": [], "x": '; repeat '[' 100000; repeat ']' 100000; printf '}'; } >deep.json
printf '{"kind": "log",\n "msgtype": 1501,\n "entries": [}\n' >syntax.json
printf '{} {}' >trailing.json
# Long messages, parsed one entry at a time: places after the entries.
long='{"kind": "register", "entries": ['$(repeat '{"id": 1, "type": "UINT32", "value": 1},' 3000)
printf '%s\n {"id": 2, "type": "UINT32", "value": 1.5}]}' "$long" >long-value.json
printf '%s\n {"id": 2 "type": 3}]}' "$long" >long-syntax.json
printf '%s\n {"id": 2, "type": 3, "raw": ""}],\n "x": [1,,2]}' "$long" >long-after.json
printf '{"kind": "register", "entries": [ \n ], "x": "%s", "entries": []}' "$(repeat x 70000)" >long-empty.json

# FILE|what the error says after "en-validate: FILE: "
cases='dir|is a directory
missing.json|cannot open: No such file or directory
/proc/self/mem|read error: Input/output error
empty.json|empty file
blank.json|empty file
array.json|a JSON array, expected a message object
utf16.json|UTF-16 text: save it as UTF-8
huge-number.json|line 2, column 13: number out of range: 1e400
uint64.json|entries[0].id: value 18446744073709551616 is out of range 0..4294967295
deep.json|x: nested deeper than 100 levels
syntax.json|line 3, column 14: syntax error: a value, comma, colon, key or bracket is missing or out of place
trailing.json|line 1, column 4: syntax error: more text after the message object
long-value.json|entries[3000].value: expected an integer, found a non-integer number
long-syntax.json|line 2, column 11: syntax error: a value, comma, colon, key or bracket is missing or out of place
long-after.json|line 3, column 10: syntax error: a value, comma, colon, key or bracket is missing or out of place
long-empty.json|entries: given more than once'

files=($ok) want_out="$ok: 0 (conforms)" want_err=
while IFS='|' read -r file why; do
  files+=("$file" $ok)
  want_out+=$'\n'"$ok: 0 (conforms)"
  want_err+="${want_err:+$'\n'}en-validate: $file: $why"
done <<<"$cases"
run "${files[@]}"
expect "bad files among valid ones: exit status" 2 $rc
expect "bad files among valid ones: verdicts" "$want_out" "$(cat out.txt)"
expect "bad files among valid ones: errors" "$want_err" "$(cat err.txt)"

# The same inputs as lines of JSON Lines, one verdict or error each.
jsonl=$(tr -d '\n' <$ok)
{ echo "$jsonl"; echo '{"kind": "log", "msgtype": 1e400, "entries": []}'; cat uint64.json; echo
  cat array.json; cat deep.json; echo; echo "$jsonl"; } >lines.jsonl
run --jsonl lines.jsonl
expect "JSON Lines: exit status" 2 $rc
expect "JSON Lines: records" '{"line": 1, "kind": "log", "msgtype": 1501, "code": 0, "message": ""}
{"line": 2, "error": "line 2, column 28: number out of range: 1e400"}
{"line": 3, "error": "line 3: entries[0].id: value 18446744073709551616 is out of range 0..4294967295"}
{"line": 4, "error": "line 4: a JSON array, expected a message object"}
{"line": 5, "error": "line 5: x: nested deeper than 100 levels"}
{"line": 6, "kind": "log", "msgtype": 1501, "code": 0, "message": ""}' "$(cat out.txt)"

# A blob the reader cannot read: the library's record, then where and why.
"${tool[@]}" --encode "$examples/valid/1701-status.json" -o whole.blob
head -c 30 whole.blob >cut.blob
fault='byte offset 16: entry 1 (id 1001, type 2): value of 156 bytes runs past the end (2 bytes left)'
run --log 1701 cut.blob $ok
expect "cut blob" "cut.blob: 300 CBlobReader::Pop() failed. -1002 is returned.
  at entry 1 (byte 16): Root
cut.blob: blob: $fault
$ok: 101 Node(ID: 2055) is unexpected under group 'Root'.
  at $ok:5:3, entry 3 (byte 200): Root" "$(cat out.txt)"
run --json cut.blob
expect "cut blob, JSON" "{\"file\": \"cut.blob\", \"type\": \"log 1701\", \"code\": 300, \"message\": \"CBlobReader::Pop() failed. -1002 is returned.\", \"entry\": 1, \"offset\": 16, \"path\": \"Root\", \"blob_error\": \"$fault\"}" "$(cat out.txt)"

# -o FILE is replaced only by a complete output: after an error FILE is as
# it was and nothing else is left; -o may name the input; a symbolic link is
# followed and its target replaced, a link to nothing refused.
"${tool[@]}" --encode $ok -o ok.blob
"${tool[@]}" --decode ok.blob -o ok-decoded.json
setup() {
  rm -rf o && mkdir o && cp $ok o/msg.json && cp ok.blob o/msg.blob && cp ok.blob o/old.blob && cp $ok o/old.json
  ln -s old.blob o/link.blob && ln -s missing o/dangling.blob
}
listing() { (cd o && find . -mindepth 1 -printf '%f %y\n' | sort); }
setup && files_before=$(listing)
syntax_error='line 3, column 14: syntax error: a value, comma, colon, key or bracket is missing or out of place'
# what|ARGS|exit status|FILE afterwards|holds the bytes of|standard error
while IFS='|' read -r what args status file bytes err; do
  setup
  # shellcheck disable=SC2086
  run $args
  expect "$what" "$status $err" "$rc $(cat err.txt)"
  cmp -s "$file" "$bytes" || fail "$what: $file does not hold the bytes of $bytes"
  expect "$what: files left" "$files_before" "$(listing)"
done <<CASES
input error over an earlier file|--encode syntax.json -o o/old.blob|2|o/old.blob|ok.blob|en-validate: syntax.json: $syntax_error
broken blob over an earlier file|--decode cut.blob -o o/old.json|2|o/old.json|$ok|en-validate: cut.blob: $fault
encode over its own input|--encode o/msg.json -o o/msg.json|0|o/msg.json|ok.blob|
decode over its own input|--decode o/msg.blob -o o/msg.blob|0|o/msg.blob|ok-decoded.json|
symbolic link: its target replaced|--decode ok.blob -o o/link.blob|0|o/old.blob|ok-decoded.json|
symbolic link to nothing|--decode ok.blob -o o/dangling.blob|2|o/old.blob|ok.blob|en-validate: cannot create o/dangling.blob: symbolic link to a missing file
CASES

# Input that is not a regular file, JSON and blob, small and over 64 KiB:
# through a FIFO and through <( ) the same verdict as from the file.
mkfifo fifo
for file in $ok ok.blob long-value.json; do
  run "$file"
  want="$rc $(cat out.txt err.txt)"
  cat "$file" >fifo &
  run fifo
  wait
  expect "$file through a FIFO" "$want" "$rc $(sed "s|fifo|$file|" out.txt err.txt)"
  run <(cat "$file")
  expect "$file through <( )" "$want" "$rc $(sed "s|/dev/fd/[0-9]*|$file|" out.txt err.txt)"
done

# JSON Lines: a line over --max-line is an error and the next line is read
# (a line of exactly that many bytes is not); an endless line is dropped as
# it comes, in bounded memory.
{ echo "$jsonl"; repeat x 3000; echo; echo "$jsonl"; } >overlong.jsonl
run --jsonl --max-line ${#jsonl} overlong.jsonl
expect "line over --max-line" '2 {"line": 1, "kind": "log", "msgtype": 1501, "code": 0, "message": ""}
{"line": 2, "error": "line 2: longer than '${#jsonl}' bytes (--max-line)"}
{"line": 3, "kind": "log", "msgtype": 1501, "code": 0, "message": ""}' "$rc $(cat out.txt)"
rc=0
head -c 300000000 /dev/zero | /usr/bin/time -f %M -o peak.txt "${tool[@]}" --jsonl --max-line 1000000 >out.txt 2>err.txt || rc=$?
expect "/dev/zero with --max-line" '2 {"line": 1, "error": "line 1: longer than 1000000 bytes (--max-line)"}' "$rc $(cat out.txt)"
[ "$(tail -n 1 peak.txt)" -lt 150000 ] || fail "/dev/zero with --max-line: peak memory $(tail -n 1 peak.txt) KiB"

# Output that cannot be written: why, and exit status 2.
for args in "$ok" "--jsonl lines.jsonl" "--describe 1501" "--decode whole.blob" "--encode $ok -o /dev/full"; do
  # shellcheck disable=SC2086
  rc=0; "${tool[@]}" $args >/dev/full 2>err.txt || rc=$?
  where="standard output"; [[ $args == *-o* ]] && where=/dev/full
  expect "$args >/dev/full" "2 en-validate: cannot write $where: No space left on device" "$rc $(cat err.txt)"
done
# A reader that goes away ends the run quietly.
repeat "$jsonl"$'\n' 10000 >many.jsonl
set +o pipefail
{ rc=0; "${tool[@]}" --jsonl many.jsonl 2>err.txt || rc=$?; echo $rc >rc.txt; } | head -n 1 >/dev/null
set -o pipefail
expect "closed pipe" "" "$(cat err.txt)"
[[ $(cat rc.txt) =~ ^(0|2|141)$ ]] || fail "closed pipe: exit status $(cat rc.txt)"
# Threads that cannot start (no address space for 64 stacks of 8 MiB): an error,
# exit status 2.  Not under a sanitizer, whose shadow memory needs more.
if (ulimit -s 8192 -v 300000 && "${tool[@]}" --version >/dev/null 2>&1); then
  rc=0
  for _ in $(seq 100); do echo "$jsonl"; done >hundred.jsonl
  (ulimit -s 8192 -v 300000 && exec "${tool[@]}" --jsonl -j 64 hundred.jsonl) >out.txt 2>err.txt || rc=$?
  expect "threads that cannot start" "2 en-validate: cannot start a thread: Resource temporarily unavailable" "$rc $(cat err.txt)"
fi

# Hostile input: a verdict or an error (exit 0, 1 or 2; for 2 a message).
msg='{"kind":"log","msgtype":1701,"entries":['
entry='{"id":2052,"type":"UINT32","value":1}'
head -c 200000 "${tool[-1]}" >garbage.bin
head -c 200000 "${tool[-1]}" | tr -d '\000' >garbage.txt
{ printf '{'; head -c 5000 "${tool[-1]}" | tr -d '\000\n'; } >garbage.json
{ printf '%s' "$msg"; repeat "$entry," 2000000; printf '%s]}\n' "$entry"; } >huge-line.jsonl
{ printf '%s{"id":2008,"type":"WSTRING","value":"' "$msg"; repeat x 30000000; printf '"}]}\n'; } >huge-string.json
{ printf '%s' "$msg"; repeat '{"id":3002,"type":"GROUP"},' 100000; printf '{"id":3002,"type":"GROUP"}]}\n'; } >deep-groups.json
{ printf '%s' "$msg"; repeat '{"id":3002,"type":"END_OF_GROUP"},' 100000; printf '{"id":0,"type":"END_OF_GROUP"}]}\n'; } >deep-ends.json
while IFS='|' read -r name args; do
  # shellcheck disable=SC2086
  run $args
  if [ $rc -gt 2 ] || { [ $rc -eq 2 ] && [ ! -s err.txt ] && ! grep -q '"error": ' out.txt; }; then
    fail "$name: exit $rc ($(head -c 300 err.txt))"
  fi
done <<'EOF'
garbage as a blob|--log 1501 garbage.bin
garbage decoded|--decode garbage.bin
garbage as JSON Lines|--jsonl garbage.txt
garbage after a brace|garbage.json
huge line|--jsonl huge-line.jsonl
huge string|huge-string.json
100000 nested groups|deep-groups.json
100000 group ends|deep-ends.json
nested groups encoded|--encode deep-groups.json -o deep-groups.blob
nested groups decoded|--decode deep-groups.blob
nested groups as a blob|--log 1701 deep-groups.blob
EOF
# A long message decoded and encoded again (one entry at a time): the same bytes.
run --decode --log 1701 deep-groups.blob -o deep-groups-decoded.json
run --encode deep-groups-decoded.json -o deep-groups-again.blob
cmp -s deep-groups.blob deep-groups-again.blob || fail "long message decoded and encoded again: other bytes"

echo "$failures failed"
[ $failures -eq 0 ]
