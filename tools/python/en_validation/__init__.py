"""Validation of agent messages from Python, through libEn_Validation.so.1.

Pure Python over the C interface with ctypes: messages are built with the
handle functions of libEn_Utility.so.1 (En_Msg.h) and validated by
En_Validate_Log / En_Validate_RegisterData (En_Validation.h).

    import en_validation as ev
    msg = ev.Message()
    msg.append_uint32(11, 1501)              # MsgType
    msg.begin_group(3001); msg.end_group(3001)
    r = ev.validate_log(msg, 1501)           # Result(code=..., text=...)
    r = ev.validate_register(msg)
    bytes(msg)                               # the blob
    ev.Message.from_blob(blob)
    ev.validate(ev.Message.from_json(path_text_or_dict))

The libraries are loaded from the directory in the environment variable
EN_VALIDATION_LIBDIR when it is set (a build tree's lib/), else by their
SONAMEs as the dynamic loader finds them.

Message.from_json reads the JSON message form of the en-validate tool with
the same rules and places in its errors (InputError).  An entry may also
carry a "name": the tool checks it against the name of the grammar's node,
this module has no grammar tables and only checks that it is a string.  Errors in JSON syntax
are Python's own words at the tool's line and column.

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

import contextlib
import ctypes
import operator
import os
import threading
import weakref
from typing import NamedTuple

__all__ = [
    "Message", "Result", "InputError", "validate_log", "validate_register", "validate",
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

_INT16 = (-0x8000, 0x7FFF)
_UINT16 = (0, 0xFFFF)
_INT32 = (-0x80000000, 0x7FFFFFFF)
_UINT32 = (0, 0xFFFFFFFF)


class InputError(ValueError):
    """A JSON message that cannot be read; the text says where and why."""


class Result(NamedTuple):
    """The verdict of one validation: code and text of the result record."""

    code: int
    text: str

    @property
    def ok(self):
        return self.code == SUCCESS


class _Record(ctypes.Structure):
    _fields_ = [("nCode", ctypes.c_int32), ("szMessage", ctypes.c_char * 256)]


def _load():
    libdir = os.environ.get("EN_VALIDATION_LIBDIR")

    def open_lib(soname):
        return ctypes.CDLL(os.path.join(libdir, soname) if libdir else soname)

    # The utility library first: the validation library needs it loaded.
    utility = open_lib("libEn_Utility.so.1")
    validation = open_lib("libEn_Validation.so.1")
    h, u32, i32, p = ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int32, ctypes.c_char_p
    for name, restype, argtypes in [
        ("En_Msg_Create", h, []), ("En_Msg_Destroy", None, [h]),
        ("En_Msg_GetBuffer", h, [h]), ("En_Msg_BytesUsed", u32, [h]),
        ("En_Msg_Load", ctypes.c_int, [h, p, ctypes.c_size_t]),
        ("En_Msg_AppendEntry", ctypes.c_int, [h, u32, u32, p, u32]),
        ("En_Msg_AppendString", ctypes.c_int, [h, u32, p]),
        ("En_Msg_AppendWString", ctypes.c_int, [h, u32, ctypes.c_wchar_p]),
        ("En_Msg_AppendInt16", ctypes.c_int, [h, u32, ctypes.c_short]),
        ("En_Msg_AppendUInt16", ctypes.c_int, [h, u32, ctypes.c_ushort]),
        ("En_Msg_AppendInt32", ctypes.c_int, [h, u32, i32]),
        ("En_Msg_AppendUInt32", ctypes.c_int, [h, u32, u32]),
        ("En_Msg_BeginGroup", ctypes.c_int, [h, u32]), ("En_Msg_EndGroup", ctypes.c_int, [h, u32]),
    ]:
        f = getattr(utility, name)
        f.restype, f.argtypes = restype, argtypes
    validation.En_Validate_Log.argtypes = [h, i32, ctypes.POINTER(_Record)]
    validation.En_Validate_RegisterData.argtypes = [h, ctypes.POINTER(_Record)]
    for f in (validation.En_Validate_Log, validation.En_Validate_RegisterData):
        f.restype = None
    return utility, validation


_utility, _validation = _load()


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
    validate() uses them.
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

    @classmethod
    def from_blob(cls, blob):
        """A message holding a copy of an encoded blob (checked when validated)."""
        data = _data("from_blob", blob)
        msg = cls()
        msg._change("from_blob", _utility.En_Msg_Load, data, len(data))
        return msg

    @classmethod
    def from_json(cls, message):
        """A message from the tool's JSON message form: a dict, or its text (str or bytes)."""
        from ._json import read
        kind, msgtype, entries = read(message, InputError)
        msg = cls()
        for entry in entries:
            msg.append_raw(*entry)
        msg.kind, msg.msgtype = kind, msgtype
        return msg

    def __bytes__(self):
        with self._lock.shared():
            return ctypes.string_at(_utility.En_Msg_GetBuffer(self._h), _utility.En_Msg_BytesUsed(self._h))

    def __repr__(self):
        return f"<en_validation.Message of {_utility.En_Msg_BytesUsed(self._h)} bytes>"

    def _change(self, what, function, *args):
        with self._lock.exclusive():
            rc = function(self._h, *args)
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


def _check_message(what, msg):
    if not isinstance(msg, Message):
        raise TypeError(f"{what}: expected an en_validation.Message, got {type(msg).__name__}")


def _result(record):
    return Result(record.nCode, record.szMessage.decode("utf-8", "surrogateescape"))


def validate_log(msg, msgtype):
    """Validates msg against the grammar of log message type msgtype."""
    _check_message("validate_log", msg)
    t = _integer("validate_log: msgtype", msgtype, _INT32)
    record = _Record()
    with msg._lock.shared():
        _validation.En_Validate_Log(msg._h, t, ctypes.byref(record))
    return _result(record)


def validate_register(msg):
    """Validates msg against the grammar of the registration message."""
    _check_message("validate_register", msg)
    record = _Record()
    with msg._lock.shared():
        _validation.En_Validate_RegisterData(msg._h, ctypes.byref(record))
    return _result(record)


def validate(msg):
    """Validates a message read by from_json as its "kind" and "msgtype" say."""
    _check_message("validate", msg)
    if msg.kind == "register":
        return validate_register(msg)
    if msg.kind == "log":
        return validate_log(msg, msg.msgtype)
    raise ValueError("validate: the message has no kind (use validate_log or validate_register)")
