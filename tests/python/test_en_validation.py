# The Python module en_validation over the libraries of this build
# (EN_VALIDATION_LIBDIR): the reference cases and the examples through its
# JSON reader (the tool's), with every place's line and column in the text
# as en-validate (EN_VALIDATE) gives them, and every verdict and input error
# of en-validate's transcript for JSON messages, JSON Lines and blobs; the
# builder's values byte by byte, bad arguments, threads.
import concurrent.futures
import json
import locale
import os
import pathlib
import shlex
import struct
import subprocess

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
    r = ev.validate(ev.Message.from_json(text))
    assert (r.code, r.text, bool(r)) == (expected["code"], expected["message"], expected["code"] == ev.SUCCESS)


def transcript_cases():
    """Each verdict and input error that en-validate --json and --jsonl print
    in the transcript, with the message it read: a blob (bytes), a JSON
    message or a line of JSON Lines (str)."""
    for block in (ROOT / "tests/tool/transcript/expected.txt").read_text("utf-8").split("\n$ en-validate ")[1:]:
        command, *output = block.split("\n")
        args = shlex.split(command)
        if {"--json", "--jsonl"} & set(args) and not {"--log", "--locale", "--summary", "--first-line", "--max-violations"} & set(args):
            stdin = args[args.index("<") + 1] if "<" in args else None
            for n, out in enumerate(map(json.loads, (o for o in output if o.startswith(('{"file"', '{"line"'))))):
                name = out.pop("file", args[-1])
                path = ROOT / (stdin if name == "-" else name)
                for key in ("warning", "note"):  # the tool's words on the kind, not the verdict's
                    out.pop(key, None)
                if not path.is_file() or path.suffix == ".gz" or not {"line", "code"} & set(out):
                    continue
                source = path.read_text("utf-8").split("\n")[out["line"] - 1] if "line" in out else \
                    path.read_bytes() if path.suffix == ".blob" else path.read_text("utf-8")
                yield pytest.param(source, "--register" in args, out, id=f"{command[:60]}:{n}")


@pytest.mark.parametrize("source,register,expected", list(transcript_cases()))
def test_transcript(source, register, expected):
    line = expected.get("line", 1)
    try:
        msg = ev.Message.from_blob(source) if isinstance(source, bytes) else ev.Message.from_json(source, first_line=line)
    except ev.InputError as e:
        assert {"line": line, "error": str(e) if str(e).startswith("line ") else f"line {line}: {e}"} == expected
        return
    r = ev.validate_register(msg) if register else ev.validate(msg)
    log = msg.kind == "log" and not register
    got = {"type": f"log {msg.msgtype}" if log else "register"} if "type" in expected else \
        {"line": line, "kind": "log", "msgtype": msg.msgtype} if log else {"line": line, "kind": "register"}
    got.update(code=r.code, message=r.text, entry=r.entry, offset=r.offset, path=r.path, json_line=r.json_line,
               json_column=r.json_column, blob_error=r.fault if "type" in expected else None)
    assert {k: v for k, v in got.items() if v is not None} == {k: v for k, v in expected.items() if k != "violations"}
    if "violations" in expected:  # --all
        assert [{k: x for k, x in dict(code=v.code, message=v.text, entry=v.entry, offset=v.offset, path=v.path,
                                       json_line=v.json_line, json_column=v.json_column, note=v.note or None).items()
                 if x is not None} for v in ev.violations(msg, register=register)] == expected["violations"]


def test_places_in_the_text_are_the_tools(tmp_path):
    """Where each place of every reference case (verdict and --all) begins
    in its text, also after a byte order mark, as en-validate says; none
    for an entry appended after reading."""
    tool = os.environ.get("EN_VALIDATE", str(ROOT / "build/bin/en-validate"))
    cases = ROOT / "tests/conformance/cases.jsonl"
    (tmp_path / "bom.json").write_bytes(b"\xef\xbb\xbf" + next(c.values[0] for c in CASES if c.values[1]["code"]).encode())
    files = [ROOT / "examples" / e["file"] for e in json.loads((ROOT / "examples/manifest.json").read_text())]
    files.append(tmp_path / "bom.json")
    run = lambda *args: subprocess.run([tool, "--all", *args], stdout=subprocess.PIPE, timeout=60).stdout.splitlines()
    texts = [(line, n) for n, line in enumerate(cases.read_bytes().splitlines(), 1)] + [(f.read_bytes(), 1) for f in files]
    for (text, first_line), out in zip(texts, run("--jsonl", cases) + run("--json", *files), strict=True):
        out, msg = json.loads(out), ev.Message.from_json(text, first_line=first_line)
        assert [(p.json_line, p.json_column) for p in [ev.validate(msg), *ev.violations(msg)]] == \
               [(p.get("json_line"), p.get("json_column")) for p in [out, *out.get("violations", [])]], out
    msg = ev.Message.from_json((ROOT / "examples/faulty/event-missing-msgtype.json").read_bytes())
    assert ev.validate(msg).place.endswith(", the end of the message (entry 21, byte 760): Root")  # as the tool says
    msg.append_uint32(9999, 1)  # where the text ended is now an entry that is not in the text
    assert ev.validate(msg).place == "entry 21 (byte 760): Root"


def test_a_failing_verdict_fails_an_assertion_with_its_text_and_place():
    with pytest.raises(AssertionError) as caught:
        assert ev.validate(ev.Message.from_json((ROOT / "examples/faulty/status-bad-time.json").read_text("utf-8")))
    assert ("Result(code=102, text=\"'17.05.2024 09:30' is not a valid time string\", "
            "place='5:3, entry 3 (byte 200): Root/LogGenerationTime')") in str(caught.value)


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
    msg.append_raw(3001, ev.DT_GROUP, b"xyz")  # any type, any bytes
    assert bytes(msg) == entry(2**32 - 1, data_type, data) + entry(3001, 100, b"") + entry(3001, 100, b"xyz")


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
])
def test_bad_arguments(call, error, text):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value).startswith(text)


def test_threads():
    texts = [c.values[0] for c in CASES]
    messages = [ev.Message.from_json(t) for t in texts]
    serial = [ev.validate(m) for m in messages]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for _ in range(3):
            assert list(pool.map(ev.validate, messages)) == serial
            assert list(map(bytes, pool.map(ev.Message.from_json, texts))) == list(map(bytes, messages))


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
