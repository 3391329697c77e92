# The Python module en_validation over the libraries of this build
# (EN_VALIDATION_LIBDIR): the reference cases and the examples, and every
# verdict and input error of en-validate's transcript for JSON messages,
# JSON Lines and blobs, through its JSON reader (the tool's); the builder's
# values byte by byte, malformed values, bad arguments, threads.
import concurrent.futures
import json
import locale
import pathlib
import shlex
import struct

import pytest

import en_validation as ev

ROOT = pathlib.Path(__file__).resolve().parents[2]
# The library's time check converts wide text in the process locale;
# the expected texts are those of the "C" locale, en-validate's.
locale.setlocale(locale.LC_ALL, "C")


def reference_cases():
    lines = (ROOT / "tests/conformance/cases.jsonl").read_text("utf-8").splitlines()
    expected = (ROOT / "tests/conformance/expected.jsonl").read_text("utf-8").splitlines()
    for n, (case, result) in enumerate(zip(lines, expected), 1):
        yield pytest.param(case, json.loads(result), id=f"conformance:{n}")
    for entry in json.loads((ROOT / "examples/manifest.json").read_text("utf-8")):
        yield pytest.param((ROOT / "examples" / entry["file"]).read_bytes(), entry, id=entry["file"])


CASES = list(reference_cases())


@pytest.mark.parametrize("text,expected", CASES)
def test_reference_cases(text, expected):
    msg = ev.Message.from_json(text)
    r = ev.validate(msg)
    assert (r.code, r.text, bool(r)) == (expected["code"], expected["message"], expected["code"] == ev.SUCCESS)
    # The blob alone, validated as its kind says, gives the same, place and all.
    again = ev.Message.from_blob(bytes(msg))
    assert (ev.validate_register(again) if msg.kind == "register" else ev.validate_log(again, msg.msgtype)) == r


def transcript_cases():
    """Each verdict and input error that en-validate --json and --jsonl print
    in the transcript, with the message it read: a blob (bytes), a JSON
    message or a line of JSON Lines (str)."""
    text = (ROOT / "tests/tool/transcript/expected.txt").read_text("utf-8")
    for block in text.split("\n$ en-validate ")[1:]:
        command, *output = block.split("\n")
        args = shlex.split(command)
        if not {"--json", "--jsonl"} & set(args) or {"--log", "--locale", "--summary"} & set(args):
            continue
        files = [a for i, a in enumerate(args) if not a.startswith("-") and args[i - 1] not in ("-j", "--first-line")]
        first = int(args[args.index("--first-line") + 1]) if "--first-line" in args else 1
        for n, out in enumerate(o for o in output if o.startswith(("{\"file\"", "{\"line\""))):
            out = json.loads(out)
            if "file" in out:
                path = ROOT / out.pop("file")
                source, line = path.read_bytes() if path.suffix == ".blob" else path.read_text("utf-8"), 1
            else:
                line = out.pop("line")
                source = (ROOT / files[-1]).read_text("utf-8").split("\n")[line - first]
            yield pytest.param(source, line, "--register" in args, out, id=f"{command[:60]}:{n}")


@pytest.mark.parametrize("source,line,register,expected", list(transcript_cases()))
def test_transcript(source, line, register, expected):
    try:
        msg = ev.Message.from_blob(source) if isinstance(source, bytes) else ev.Message.from_json(source, first_line=line)
    except ev.InputError as e:
        assert (str(e) if str(e).startswith("line ") else f"line {line}: {e}") == expected["error"]
        return
    r = ev.validate_register(msg) if register else ev.validate(msg)
    kind = ({"type": "register"} if register or msg.kind == "register" else {"type": f"log {msg.msgtype}"}
            if "type" in expected else {"kind": msg.kind, "msgtype": msg.msgtype})
    got = dict(kind, code=r.code, message=r.text)
    if r.entry is not None:
        got.update(entry=r.entry, offset=r.offset, path=r.path)
    if r.fault is not None and "type" in expected:
        got["blob_error"] = r.fault
    assert got == expected


def test_a_failing_verdict_fails_an_assertion_with_its_text_and_place():
    msg = ev.Message.from_json((ROOT / "examples/faulty/status-bad-time.json").read_text("utf-8"))
    with pytest.raises(AssertionError) as caught:
        assert ev.validate(msg)
    assert ("Result(code=102, text=\"'17.05.2024 09:30' is not a valid time string\", "
            "place='entry 3 (byte 200): Root/LogGenerationTime')") in str(caught.value)


def entry(node_id, data_type, value):
    pad = b"\0" * (-len(value) % 4)
    return struct.pack("=III", node_id, data_type, len(value)) + value + pad


@pytest.mark.parametrize("method,value,data_type,data", [
    ("append_int16", -32768, ev.DT_INT16, b"\x00\x80"),
    ("append_int16", 32767, ev.DT_INT16, b"\xff\x7f"),
    ("append_uint16", 65535, ev.DT_UINT16, b"\xff\xff"),
    ("append_int32", -2**31, ev.DT_INT32, b"\x00\x00\x00\x80"),
    ("append_int32", 2**31 - 1, ev.DT_INT32, b"\xff\xff\xff\x7f"),
    ("append_uint32", 2**32 - 1, ev.DT_UINT32, b"\xff\xff\xff\xff"),
    ("append_string", "é", ev.DT_STRING, "é".encode() + b"\0"),
    ("append_string", b"\xff", ev.DT_STRING, b"\xff\0"),
    ("append_wstring", "a\U0001F600\uFFFF", ev.DT_WSTRING, struct.pack("=4I", 0x61, 0x1F600, 0xFFFF, 0)),
    ("append_wstring", "", ev.DT_WSTRING, b"\0" * 4),
    ("append_bytes", b"\x00\x01\x02", ev.DT_BYTES, b"\x00\x01\x02"),
])
def test_builder_values(method, value, data_type, data):
    msg = ev.Message()
    getattr(msg, method)(2**32 - 1, value)
    msg.begin_group(3001)
    msg.end_group(3001)
    assert bytes(msg) == entry(2**32 - 1, data_type, data) + entry(3001, 100, b"") + entry(3001, 101, b"")


@pytest.mark.parametrize("data_type,data,result", [
    (ev.DT_UINT32, b"\xdd\x05", (300, "CBlobReader::Pop() failed. -1003 is returned.")),
    (ev.DT_INT16, b"\0\0\0\0", (300, "CBlobReader::Pop() failed. -1003 is returned.")),
    (ev.DT_STRING, b"abc", (300, "CBlobReader::Pop() failed. -1004 is returned.")),
    (ev.DT_WSTRING, b"a\0\0\0", (300, "CBlobReader::Pop() failed. -1005 is returned.")),
    (ev.DT_GROUP, b"xyz", (101, "Node(ID: 11, Type: 7) expected under group 'Root', "
                                "but Node(ID: 11, Type: 100) is given.")),
])
def test_malformed_values(data_type, data, result):
    msg = ev.Message()
    msg.append_raw(11, data_type, data)
    assert bytes(msg) == entry(11, data_type, data)
    assert ev.validate_log(msg, 1501)[:2] == result


M = ev.Message()


@pytest.mark.parametrize("call,error,text", [
    (lambda: M.append_uint32(11, -1), ValueError, "append_uint32: value: -1 is out of range 0..4294967295"),
    (lambda: M.append_int16(2**32, 0), ValueError, "append_int16: id: 4294967296 is out of range 0..4294967295"),
    (lambda: M.append_int16(1, 32768), ValueError, "append_int16: value: 32768 is out of range -32768..32767"),
    (lambda: M.append_uint16(1, 1.0), TypeError, "append_uint16: value: expected an integer, got float"),
    (lambda: M.append_int32("11", 1), TypeError, "append_int32: id: expected an integer, got str"),
    (lambda: M.append_uint32(1, True), TypeError, "append_uint32: value: expected an integer, got bool"),
    (lambda: M.append_string(1, 5), TypeError, "append_string: expected str or bytes, got int"),
    (lambda: M.append_string(1, "a\0b"), ValueError, "append_string: the value holds a NUL character"),
    (lambda: M.append_wstring(1, b"a"), TypeError, "append_wstring: expected str, got bytes"),
    (lambda: M.append_raw(1, -1, b""), ValueError, "append_raw: type: -1 is out of range"),
    (lambda: M.append_bytes(1, "00"), TypeError, "append_bytes: expected bytes, got str"),
    (lambda: ev.validate_log(None, 1501), TypeError, "validate_log: expected an en_validation.Message, got NoneType"),
    (lambda: ev.validate_log(M, 2**31), ValueError, "validate_log: msgtype: 2147483648 is out of range"),
    (lambda: ev.validate_register(b""), TypeError, "validate_register: expected an en_validation.Message"),
    (lambda: ev.validate(M), ValueError, "validate: the message has no kind"),
    (lambda: ev.Message.from_blob("0b"), TypeError, "from_blob: expected bytes, got str"),
    (lambda: ev.Message.from_json(7), TypeError, "from_json: expected a dict, str or bytes, got int"),
    (lambda: ev.Message.from_json({"kind": b"log"}), TypeError, "from_json: the dict is not JSON"),
    (lambda: ev.Message.from_json("{}", first_line=0), ValueError, "from_json: first_line: 0 is out of range"),
])
def test_bad_arguments(call, error, text):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value).startswith(text)


def test_threads():
    messages = [ev.Message.from_json(c.values[0]) for c in CASES]
    serial = [ev.validate(m) for m in messages]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for _ in range(3):
            assert list(pool.map(ev.validate, messages)) == serial
            # One reader of the JSON form a thread.
            assert [bytes(m) for m in pool.map(ev.Message.from_json, (c.values[0] for c in CASES))] == \
                [bytes(m) for m in messages]


def test_one_message_from_many_threads():
    # Appends that grow and move the buffer, copies and validations of one
    # Message from several threads at once: no validation reads a freed
    # buffer, and every appended entry ends up whole.
    msg = ev.Message.from_json(CASES[0].values[0])
    start, value = bytes(msg), bytes(range(256)) * 1024

    def append(node_id):
        for _ in range(24):
            msg.append_bytes(node_id, value)
        return set()

    def validate():
        codes = {ev.validate(msg).code for _ in range(2000)}
        assert bytes(msg).startswith(start)
        return codes

    with concurrent.futures.ThreadPoolExecutor(5) as pool:
        jobs = [pool.submit(validate) for _ in range(3)] + [pool.submit(append, i) for i in (4001, 4002)]
        codes = set().union(*(job.result() for job in jobs))
    assert codes <= {CASES[0].values[1]["code"], ev.SYNTAX_ERROR}
    tail, size = bytes(msg)[len(start):], len(entry(0, ev.DT_BYTES, value))
    ids = [struct.unpack_from("=I", tail, at)[0] for at in range(0, len(tail), size)]
    assert sorted(ids) == [4001] * 24 + [4002] * 24
    assert tail == b"".join(entry(i, ev.DT_BYTES, value) for i in ids)
