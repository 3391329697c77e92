"""Validation of agent messages from Python, through libEn_Validation.so.1.

Pure Python over C interfaces with ctypes: messages are built with the
handle functions of libEn_Utility.so.1 (En_Msg.h), read from the JSON
message form by libEn_MessageJson.so.1 (the reader of en-validate) and
validated by the library, with the place of the verdict.

    import en_validation as ev
    msg = ev.Message()
    msg.append_uint32(11, 1501)              # MsgType
    msg.begin_group(3001); msg.end_group(3001)
    r = ev.validate_log(msg, 1501)           # Result(code=..., text=..., place=...)
    assert r, r.text                         # true only when the message conforms
    r = ev.validate_register(msg)
    bytes(msg)                               # the blob
    ev.validate(ev.Message.from_blob(blob))  # a log of its MsgType entry's type, else registration
    ev.validate(ev.Message.from_json(text_or_dict))

A Result is a tuple (code, text, entry, offset, path, fault, json_line,
json_column, end) that is true only for SUCCESS.  entry, offset and path say
where the library's walk decided the verdict (the entry's 0-based index and
the byte offset of its header, at the end of the data the number of entries
and the blob's length, and end true; the group path
"Root/PatternInfo[1]/Info[2]/LastUpdateTime"), as en-validate prints them;
None for a verdict without a place (SUCCESS, 100, 103, 104).  For 300 (the
blob reader refused an entry), fault says which entry at which byte offset
is broken and how, in en-validate's words.  For a message read by
from_json, json_line and json_column say where that entry begins in the
text (1-based, in bytes, lines counted from first_line; at the end of the
data the "]" that closes "entries"), as en-validate's "json_line" and
"json_column"; else None.

The libraries are loaded from the directory in the environment variable
EN_VALIDATION_LIBDIR when it is set (a build tree's lib/), else by their
SONAMEs as the dynamic loader finds them (the package liben-validation1).

Message.from_json takes the JSON message form as text (str or bytes) or as
a dict, and reads it with en-validate's reader: the same rules, the same
errors (InputError, with the tool's place and text: "line L, column C:
why" for text that is not JSON, else "entries[3].value: why"), and an
entry's "name" is checked against the grammar's node as the tool does.

Bad arguments raise TypeError or ValueError (an integer out of the range
of its C type too) before anything reaches the library.  Result texts are
the record's bytes decoded as UTF-8; a byte that is not UTF-8 is kept as a
surrogate escape, so text.encode("utf-8", "surrogateescape") gives the
record's bytes.  The library's time check converts wide values to narrow
text in the process locale (Python sets LC_CTYPE from the environment);
en-validate runs in the "C" locale.

Validation is thread-safe as the library is: several threads may validate
at once, also the same Message.  Each Message has a lock that lets a change
(an append) wait until the validations of other threads that use the
message are done, and holds them off until it is done: ctypes lets other
threads run during a call, so without it an append could free the buffer
that a validation reads.  A message's handle is released with its object.
"""

import collections
import contextlib
import ctypes
import json
import operator
import os
import threading
import weakref

__all__ = [
    "Message", "Result", "Violation", "InputError", "validate_log", "validate_register", "validate", "violations",
    "DEFAULT_MAX_VIOLATIONS",
    "SUCCESS", "UNKNOWN_ERROR", "SYNTAX_ERROR", "CONSTRAINT_VIOLATION", "NULL_HANDLE",
    "UNKNOWN_MSGTYPE", "INTERNAL_ERROR",
    "DT_STRING", "DT_WSTRING", "DT_BYTES", "DT_INT16", "DT_UINT16", "DT_INT32", "DT_UINT32",
    "DT_GROUP", "DT_END_OF_GROUP",
]

# Result codes (EN_VALIDATE_RESULT::nCode).
SUCCESS = 0
UNKNOWN_ERROR = 100
SYNTAX_ERROR = 101
CONSTRAINT_VIOLATION = 102
NULL_HANDLE = 103
UNKNOWN_MSGTYPE = 104
INTERNAL_ERROR = 300

# Data type codes of an entry.
DT_STRING = 1
DT_WSTRING = 2
DT_BYTES = 3
DT_INT16 = 4
DT_UINT16 = 5
DT_INT32 = 6
DT_UINT32 = 7
DT_GROUP = 100
DT_END_OF_GROUP = 101

# Bytes past the end of a text that the JSON reader reads (EN_MSGJSON_PADDING).
_PADDING = 64

_INT16 = (-0x8000, 0x7FFF)
_UINT16 = (0, 0xFFFF)
_INT32 = (-0x80000000, 0x7FFFFFFF)
_UINT32 = (0, 0xFFFFFFFF)


class InputError(ValueError):
    """A JSON message that cannot be read; the text says where and why."""


def _fields(name, extra, default):
    """The fields of a Result (extra "fault") or a Violation (extra "note"):
    code and text, the place in the blob, extra, the place in the JSON text,
    and whether the place is the end of the data."""
    return collections.namedtuple(name, ("code", "text", "entry", "offset", "path", extra, "json_line", "json_column",
                                         "end"), defaults=(None, None, None, default, None, None, False))


class _Placed:
    """What a Result and a Violation say of their place."""

    __slots__ = ()

    @property
    def place(self):
        """"5:3, entry 3 (byte 200): Root/LogGenerationTime" (line and column in
        the JSON text first, for a message read from it; "the end of the
        message (entry 21, byte 760): Root" at the end of the data), or None,
        as en-validate writes it."""
        if self.entry is None:
            return None
        line = f"{self.json_line}:{self.json_column}, " if self.json_line is not None else ""
        if self.end:
            return f"{line}the end of the message (entry {self.entry}, byte {self.offset}): {self.path}"
        return f"{line}entry {self.entry} (byte {self.offset}): {self.path}"

    def _repr(self, more):
        place = f", place={self.place!r}" if self.entry is not None else ""
        return f"{type(self).__name__}(code={self.code}, text={self.text!r}{place}{more})"


class Result(_Placed, _fields("_ResultFields", "fault", None)):
    """The verdict of one validation: code and text of the result record,
    where the walk decided it, and for 300 what is broken in the blob.
    True only when the message conforms, so that a failing message fails
    `assert ev.validate(msg)` with its text and place in the report."""

    __slots__ = ()

    @property
    def ok(self):
        return self.code == SUCCESS

    def __bool__(self):
        return self.ok

    def __repr__(self):
        return self._repr(f", fault={self.fault!r}" if self.fault is not None else "")


class Violation(_Placed, _fields("_ViolationFields", "note", False)):
    """One item of violations(): code and text exactly as the verdict's
    would be had it been the first, and its place; a note (code 0, note
    True) says the message ends inside a group that was never closed."""

    __slots__ = ()

    def __repr__(self):
        return self._repr(", note=True" if self.note else "")


class _Record(ctypes.Structure):
    _fields_ = [("nCode", ctypes.c_int32), ("szMessage", ctypes.c_char * 256)]


class _Location(ctypes.Structure):
    _fields_ = [("bLocated", ctypes.c_int32), ("nEntry", ctypes.c_uint32), ("nOffset", ctypes.c_uint32),
                ("szPath", ctypes.c_char * 512)]


class _Violation(ctypes.Structure):
    _fields_ = [("result", _Record), ("location", _Location), ("bNote", ctypes.c_int32)]


_LIBRARIES = ("libEn_Utility.so.1", "libEn_Validation.so.1", "libEn_MessageJson.so.1")


def _load():
    libdir = os.environ.get("EN_VALIDATION_LIBDIR")

    def open_lib(soname):
        path = os.path.join(libdir, soname) if libdir else soname
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            where = (f"EN_VALIDATION_LIBDIR={libdir} does not hold it or a library it needs" if libdir else
                     "the dynamic loader does not find it")
            raise ImportError(
                f"en_validation: cannot load {soname} ({where}: {e}).  Install the package liben-validation1, "
                f"or set EN_VALIDATION_LIBDIR to the directory that holds {', '.join(_LIBRARIES)} "
                "(a build tree's lib/), or add that directory to LD_LIBRARY_PATH.", name=__name__) from None

    # The utility library first: the others need it loaded.
    utility, validation, msgjson = (open_lib(name) for name in _LIBRARIES)
    h, u32, i32, p, size = ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int32, ctypes.c_char_p, ctypes.c_size_t
    for lib, name, restype, argtypes in [
        (utility, "En_Msg_Create", h, []), (utility, "En_Msg_Destroy", None, [h]),
        (utility, "En_Msg_GetBuffer", h, [h]), (utility, "En_Msg_BytesUsed", u32, [h]),
        (utility, "En_Msg_Load", ctypes.c_int, [h, p, size]),
        (utility, "En_Msg_AppendEntry", ctypes.c_int, [h, u32, u32, p, u32]),
        (utility, "En_Msg_AppendString", ctypes.c_int, [h, u32, p]),
        (utility, "En_Msg_AppendWString", ctypes.c_int, [h, u32, ctypes.c_wchar_p]),
        (utility, "En_Msg_AppendInt16", ctypes.c_int, [h, u32, ctypes.c_short]),
        (utility, "En_Msg_AppendUInt16", ctypes.c_int, [h, u32, ctypes.c_ushort]),
        (utility, "En_Msg_AppendInt32", ctypes.c_int, [h, u32, i32]),
        (utility, "En_Msg_AppendUInt32", ctypes.c_int, [h, u32, u32]),
        (utility, "En_Msg_BeginGroup", ctypes.c_int, [h, u32]), (utility, "En_Msg_EndGroup", ctypes.c_int, [h, u32]),
        (validation, "En_Validate_Log_Located", None, [h, i32, ctypes.POINTER(_Record), ctypes.POINTER(_Location)]),
        (validation, "En_Validate_RegisterData_Located", None, [h, ctypes.POINTER(_Record), ctypes.POINTER(_Location)]),
        (validation, "En_Validate_Log_All", u32, [h, i32, ctypes.POINTER(_Record), u32, h, h]),
        (validation, "En_Validate_RegisterData_All", u32, [h, ctypes.POINTER(_Record), u32, h, h]),
        (msgjson, "En_MsgJson_ReaderCreate", h, []), (msgjson, "En_MsgJson_ReaderDestroy", None, [h]),
        (msgjson, "En_MsgJson_Read", ctypes.c_int, [h, h, size, size, ctypes.c_int, i32, size, h, h, h,
                                                   ctypes.POINTER(ctypes.c_int), ctypes.POINTER(i32)]),
        (msgjson, "En_MsgJson_Error", p, [h]),
        (msgjson, "En_MsgJson_BlobFault", size, [h, size, ctypes.c_int, ctypes.c_char_p, size]),
        (msgjson, "En_MsgJson_MsgTypeEntry", ctypes.c_int, [h, size, ctypes.POINTER(i32)]),
        (msgjson, "En_MsgJson_EntryPlaces", size, [h, h, size, size, size, size, ctypes.POINTER(size),
                                                   ctypes.POINTER(size)]),
    ]:
        f = getattr(lib, name)
        f.restype, f.argtypes = restype, argtypes
    return utility, validation, msgjson


_utility, _validation, _msgjson = _load()


class _Reader:
    """A reader of libEn_MessageJson.so.1 (its parser's buffers); one a thread."""

    def __init__(self):
        self.handle = _msgjson.En_MsgJson_ReaderCreate()
        if not self.handle:
            raise MemoryError("En_MsgJson_ReaderCreate: out of memory")
        self._release = weakref.finalize(self, _msgjson.En_MsgJson_ReaderDestroy, self.handle)


_readers = threading.local()


def _reader():
    reader = getattr(_readers, "reader", None)
    if reader is None:
        reader = _readers.reader = _Reader()
    return reader.handle


def _integer(what, value, bounds):
    if isinstance(value, bool):
        raise TypeError(f"{what}: expected an integer, got bool")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{what}: expected an integer, got {type(value).__name__}") from None
    lo, hi = bounds
    if not lo <= value <= hi:
        raise ValueError(f"{what}: {value} is out of range {lo}..{hi}")
    return value


def _data(what, value):
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"{what}: expected bytes, got {type(value).__name__}")


def _text(what, value, allowed):
    if not isinstance(value, allowed):
        names = " or ".join(t.__name__ for t in allowed)
        raise TypeError(f"{what}: expected {names}, got {type(value).__name__}")
    if ("\0" if isinstance(value, str) else b"\0") in value:
        raise ValueError(f"{what}: the value holds a NUL character (append_raw writes any bytes)")
    return value


class _SharedLock:
    """Many readers at once (validations, copies), or one writer (a change)."""

    def __init__(self):
        self._cond = threading.Condition(threading.Lock())
        self._readers = 0

    @contextlib.contextmanager
    def shared(self):
        with self._cond:
            self._readers += 1
        try:
            yield
        finally:
            with self._cond:
                self._readers -= 1
                if not self._readers:
                    self._cond.notify_all()

    @contextlib.contextmanager
    def exclusive(self):
        with self._cond:
            self._cond.wait_for(lambda: not self._readers)
            yield


class Message:
    """One message: a handle of libEn_Utility.so.1 with its encoded entries.

    kind ("log", "register" or None) and msgtype are what from_json read;
    validate() uses them.  A message read by from_json keeps the line and
    column of each entry in its text (not the text), for the places of its
    verdicts.
    """

    def __init__(self):
        handle = _utility.En_Msg_Create()
        if not handle:
            raise MemoryError("En_Msg_Create: out of memory")
        self._h = handle
        self._lock = _SharedLock()
        self._release = weakref.finalize(self, _utility.En_Msg_Destroy, handle)
        self.kind = None
        self.msgtype = None
        self._json_places = None  # (lines, columns) of each entry and the end: from_json
        self._json_ends = False   # the end's place is still that of the end of the data

    @classmethod
    def from_blob(cls, blob):
        """A message holding a copy of an encoded blob (checked when validated),
        of the kind en-validate takes it for: a log of the type of its root
        entry MsgType (ID 11, UINT32) when it has one, else registration."""
        data = _data("from_blob", blob)
        msg = cls()
        msg._change("from_blob", _utility.En_Msg_Load, data, len(data))
        msgtype = ctypes.c_int32()
        found = _msgjson.En_MsgJson_MsgTypeEntry(_utility.En_Msg_GetBuffer(msg._h), len(data), ctypes.byref(msgtype))
        msg.kind, msg.msgtype = ("log", msgtype.value) if found else ("register", None)
        return msg

    @classmethod
    def from_json(cls, message, *, first_line=1):
        """A message from the tool's JSON message form: its text (str or
        bytes) or a dict, read by the tool's reader.  InputError says where
        and why as the tool does, lines counted from first_line (a line of
        a JSON Lines file, as en-validate --jsonl counts them)."""
        first_line = _integer("from_json: first_line", first_line, (1, ctypes.c_size_t(-1).value))
        if isinstance(message, dict):
            try:
                message = json.dumps(message)
            except (TypeError, ValueError) as e:
                raise TypeError(f"from_json: the dict is not JSON: {e}") from None
        if isinstance(message, str):
            message = message.encode("utf-8", "surrogatepass")
        if not isinstance(message, (bytes, bytearray)):
            raise TypeError(f"from_json: expected a dict, str or bytes, got {type(message).__name__}")
        text = ctypes.create_string_buffer(bytes(message), len(message) + _PADDING)
        kind, msgtype = ctypes.c_int(), ctypes.c_int32()
        msg, reader = cls(), _reader()
        with msg._lock.exclusive():
            rc = _msgjson.En_MsgJson_Read(reader, ctypes.addressof(text), len(message), _PADDING, -1, 0, first_line,
                                          msg._h, None, None, ctypes.byref(kind), ctypes.byref(msgtype))
        if rc == -1:
            raise InputError(_msgjson.En_MsgJson_Error(reader).decode("utf-8", "surrogateescape"))
        if rc == -2:
            raise MemoryError("from_json: out of memory")
        if rc != 0:
            raise RuntimeError(f"from_json: {_msgjson.En_MsgJson_Error(reader).decode('utf-8', 'replace')} ({rc})")
        msg.kind, msg.msgtype = ("log", msgtype.value) if kind.value == 0 else ("register", None)
        msg._json_places = _json_places(reader, ctypes.addressof(text), len(message), first_line)
        msg._json_ends = True
        return msg

    def _json_place(self, entry):
        """(line, column) of entry in the JSON text the message was read
        from, or (None, None): the end of the data only until an append."""
        if self._json_places is None:
            return None, None
        lines, columns = self._json_places
        if entry >= len(lines) - (not self._json_ends):
            return None, None
        return lines[entry], columns[entry]

    def __bytes__(self):
        with self._lock.shared():
            return ctypes.string_at(_utility.En_Msg_GetBuffer(self._h), _utility.En_Msg_BytesUsed(self._h))

    def __repr__(self):
        return f"<en_validation.Message of {_utility.En_Msg_BytesUsed(self._h)} bytes>"

    def _change(self, what, function, *args):
        with self._lock.exclusive():
            rc = function(self._h, *args)
            self._json_ends = False
        if rc == -2:
            raise MemoryError(f"{what}: out of memory")
        if rc == -3:
            raise ValueError(f"{what}: the message would exceed 4 GiB")
        if rc != 0:
            raise ValueError(f"{what}: refused ({rc})")

    def _id(self, what, node_id):
        return _integer(f"{what}: id", node_id, _UINT32)

    def append_raw(self, node_id, data_type, data=b""):
        """Appends an entry with exactly these value bytes, of any type and length."""
        i = self._id("append_raw", node_id)
        t = _integer("append_raw: type", data_type, _UINT32)
        data = _data("append_raw", data)
        self._change("append_raw", _utility.En_Msg_AppendEntry, i, t, data, len(data))

    def append_string(self, node_id, value):
        """A STRING entry: str (UTF-8) or bytes, without NUL; the zero byte is added."""
        i = self._id("append_string", node_id)
        value = _text("append_string", value, (str, bytes))
        if isinstance(value, str):
            value = value.encode("utf-8")
        self._change("append_string", _utility.En_Msg_AppendString, i, value)

    def append_wstring(self, node_id, value):
        """A WSTRING entry: one 4-byte character per code point and a 4-byte zero."""
        i = self._id("append_wstring", node_id)
        value = _text("append_wstring", value, (str,))
        self._change("append_wstring", _utility.En_Msg_AppendWString, i, value)

    def append_bytes(self, node_id, value):
        i = self._id("append_bytes", node_id)
        data = _data("append_bytes", value)
        self._change("append_bytes", _utility.En_Msg_AppendEntry, i, DT_BYTES, data, len(data))

    def _append_int(self, what, function, bounds, node_id, value):
        i = self._id(what, node_id)
        self._change(what, function, i, _integer(f"{what}: value", value, bounds))

    def append_int16(self, node_id, value):
        self._append_int("append_int16", _utility.En_Msg_AppendInt16, _INT16, node_id, value)

    def append_uint16(self, node_id, value):
        self._append_int("append_uint16", _utility.En_Msg_AppendUInt16, _UINT16, node_id, value)

    def append_int32(self, node_id, value):
        self._append_int("append_int32", _utility.En_Msg_AppendInt32, _INT32, node_id, value)

    def append_uint32(self, node_id, value):
        self._append_int("append_uint32", _utility.En_Msg_AppendUInt32, _UINT32, node_id, value)

    def begin_group(self, node_id):
        self._change("begin_group", _utility.En_Msg_BeginGroup, self._id("begin_group", node_id))

    def end_group(self, node_id):
        self._change("end_group", _utility.En_Msg_EndGroup, self._id("end_group", node_id))


def _json_places(reader, text, size, first_line):
    """The line and column of each entry of the text that the reader read
    last (size bytes at address text), and of the bracket that closes
    "entries", as en-validate gives them (En_MsgJson_EntryPlaces)."""
    places = _msgjson.En_MsgJson_EntryPlaces
    n = places(reader, text, size, first_line, 0, 0, None, None)
    lines, columns = (ctypes.c_size_t * n)(), (ctypes.c_size_t * n)()
    places(reader, text, size, first_line, 0, n, lines, columns)
    return lines, columns


def _check_message(what, msg):
    if not isinstance(msg, Message):
        raise TypeError(f"{what}: expected an en_validation.Message, got {type(msg).__name__}")


def _verdict(cls, msg, record, location, extra):
    """A Result or Violation of msg from the library's record and location
    (msg held shared)."""
    text = record.szMessage.decode("utf-8", "surrogateescape")
    if not location.bLocated:
        return cls(record.nCode, text, None, None, None, extra)
    return cls(record.nCode, text, location.nEntry, location.nOffset,
               location.szPath.decode("utf-8", "surrogateescape"), extra, *msg._json_place(location.nEntry),
               location.nOffset == _utility.En_Msg_BytesUsed(msg._h))


def _validate(msg, function, *args):
    record, location = _Record(), _Location()
    with msg._lock.shared():
        function(msg._h, *args, ctypes.byref(record), ctypes.byref(location))
        fault = _blob_fault(msg) if record.nCode == INTERNAL_ERROR else None
        return _verdict(Result, msg, record, location, fault)


def _blob_fault(msg):
    """What en-validate says the blob reader refused, or None."""
    buffer, size = _utility.En_Msg_GetBuffer(msg._h), _utility.En_Msg_BytesUsed(msg._h)
    text = ctypes.create_string_buffer(512)
    n = _msgjson.En_MsgJson_BlobFault(buffer, size, 1, text, len(text))
    if n == ctypes.c_size_t(-1).value:
        raise MemoryError("validate: out of memory")
    if n >= len(text):
        text = ctypes.create_string_buffer(n + 1)
        _msgjson.En_MsgJson_BlobFault(buffer, size, 1, text, len(text))
    return text.value.decode("utf-8", "surrogateescape") if n else None


def validate_log(msg, msgtype):
    """Validates msg against the grammar of log message type msgtype."""
    _check_message("validate_log", msg)
    t = _integer("validate_log: msgtype", msgtype, _INT32)
    return _validate(msg, _validation.En_Validate_Log_Located, t)


def validate_register(msg):
    """Validates msg against the grammar of the registration message."""
    _check_message("validate_register", msg)
    return _validate(msg, _validation.En_Validate_RegisterData_Located)


def validate(msg):
    """Validates a message as its kind and msgtype say (from_json, from_blob)."""
    _check_message("validate", msg)
    if msg.kind == "register":
        return validate_register(msg)
    if msg.kind == "log":
        return validate_log(msg, msg.msgtype)
    raise ValueError("validate: the message has no kind (use validate_log or validate_register)")


DEFAULT_MAX_VIOLATIONS = 100


def violations(msg, msgtype=None, *, register=False, cap=DEFAULT_MAX_VIOLATIONS):
    """Every violation of msg in one walk, each a Violation with its place,
    the first being validate()'s verdict; notes last; [] when it conforms.
    As a log of msgtype when given, as a registration message with
    register=True, else as its kind and msgtype say (validate).  At most cap
    items: a list of exactly cap may have been cut."""
    _check_message("violations", msg)
    cap = _integer("violations: cap", cap, (1, 1 << 20))  # as en-validate --max-violations
    if register and msgtype is not None:
        raise ValueError("violations: give msgtype or register=True, not both")
    if msgtype is None and not register:
        if msg.kind is None:
            raise ValueError("violations: the message has no kind (give msgtype or register=True)")
        register, msgtype = msg.kind == "register", msg.msgtype
    record, items = _Record(), (_Violation * cap)()
    with msg._lock.shared():
        if register:
            n = _validation.En_Validate_RegisterData_All(msg._h, ctypes.byref(record), cap, None, items)
        else:
            t = _integer("violations: msgtype", msgtype, _INT32)
            n = _validation.En_Validate_Log_All(msg._h, t, ctypes.byref(record), cap, None, items)
        return [_verdict(Violation, msg, v.result, v.location, bool(v.bNote)) for v in items[:n]]
