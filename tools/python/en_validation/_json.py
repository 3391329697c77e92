"""The JSON message form of en-validate, read into entries.

    {"kind": "log" | "register", "msgtype": <int32, for logs>,
     "entries": [{"id": <uint32>, "type": <uint32 or name>,
                  "value": <typed value> | "raw": "<hex>"}, ...]}

The same rules, in the same order, and the same places and texts in the
errors as the tool: other keys of the message object are ignored, an entry
has no others but "name", objects and arrays nest at most 100 levels.  The
tool checks a "name" against the grammar's node; without grammar tables,
this reader only checks that it is a string.
"""

import json
import struct

_MAX_DEPTH = 100
_TYPE_NAMES = {"STRING": 1, "WSTRING": 2, "BYTES": 3, "INT16": 4, "UINT16": 5, "INT32": 6, "UINT32": 7,
               "GROUP": 100, "END_OF_GROUP": 101}
_INTEGERS = {4: ("=h", -0x8000, 0x7FFF), 5: ("=H", 0, 0xFFFF), 6: ("=i", -0x80000000, 0x7FFFFFFF),
             7: ("=I", 0, 0xFFFFFFFF)}
_HEX = frozenset("0123456789abcdefABCDEF")


class _Object:
    """A JSON object as its text has it: every key, in order."""

    __slots__ = ("pairs",)

    def __init__(self, pairs):
        self.pairs = pairs


class _BigInteger(str):
    """The digits of an integer too long for any range."""


def _big_or_int(digits):
    return int(digits) if len(digits) <= 40 else _BigInteger(digits)


class _BadLiteral(Exception):
    """A number or word that Python's parser takes and JSON does not: (literal, why)."""


def _float(literal):
    value = float(literal)
    if value in (float("inf"), float("-inf")):
        raise _BadLiteral(literal, "number out of range: " + literal)
    return value


def _unknown_word(word):
    raise _BadLiteral(word, "syntax error: an unknown word (a value is a string, number, object, array, true, "
                            "false or null)")


def _items(value):
    return value.pairs if isinstance(value, _Object) else value.items()


def _describe(v):
    if v is None:
        return "null"
    if isinstance(v, bool):
        return "a boolean"
    if isinstance(v, _BigInteger) or isinstance(v, int):
        return "a number"
    if isinstance(v, str):
        return "a string"
    if isinstance(v, list):
        return "an array"
    if isinstance(v, (dict, _Object)):
        return "an object"
    if isinstance(v, float):
        return "a non-integer number"
    return f"a Python {type(v).__name__}"


class _Reader:
    def __init__(self, error):
        self.error = error

    def fail(self, where, why):
        raise self.error(f"{where}: {why}")

    def position(self, text, at):
        line_start = text.rfind("\n", 0, at) + 1
        column = len(text[line_start:at].encode("utf-8", "surrogatepass")) + 1
        return f"line {text.count(chr(10), 0, at) + 1}, column {column}"

    def parse(self, message):
        if isinstance(message, (bytes, bytearray)):
            data = bytes(message)
            data = data[3:] if data.startswith(b"\xef\xbb\xbf") else data
            try:
                text = data.decode("utf-8")
            except UnicodeDecodeError as e:
                text = data[:e.start].decode("utf-8")
                raise self.error(f"{self.position(text, len(text))}: text that is not valid UTF-8") from None
        elif isinstance(message, str):
            text = message[1:] if message.startswith("\ufeff") else message
        else:
            return message
        try:
            return json.loads(text, object_pairs_hook=_Object, parse_int=_big_or_int, parse_float=_float,
                              parse_constant=_unknown_word)
        except json.JSONDecodeError as e:
            raise self.error(f"{self.position(text, e.pos)}: syntax error: {e.msg}") from None
        except _BadLiteral as e:
            literal, why = e.args
            raise self.error(f"{self.position(text, text.find(literal))}: {why}") from None
        except RecursionError:
            raise self.error(f"nested deeper than {_MAX_DEPTH} levels") from None

    def nesting(self, value, depth, where):
        if isinstance(value, (dict, _Object)):
            children = [v for _, v in _items(value)]
        elif isinstance(value, list):
            children = value
        else:
            return
        if depth == _MAX_DEPTH:
            self.fail(where, f"nested deeper than {_MAX_DEPTH} levels")
        for child in children:
            self.nesting(child, depth + 1, where)

    def integer(self, v, lo, hi, where):
        if isinstance(v, _BigInteger) or (isinstance(v, int) and not isinstance(v, bool)):
            if isinstance(v, _BigInteger) or not lo <= v <= hi:
                self.fail(where, f"value {v} is out of range {lo}..{hi}")
            return v
        self.fail(where, f"expected an integer, found {_describe(v)}")

    def hex(self, v, where):
        if not isinstance(v, str) or isinstance(v, _BigInteger):
            self.fail(where, f"expected a hex string, found {_describe(v)}")
        if len(v.encode("utf-8", "surrogatepass")) % 2:
            self.fail(where, "hex string has an odd number of digits")
        at = 0
        for c in v:
            if c not in _HEX:
                self.fail(where, f"'{c}' at position {at} is not a hex digit")
            at += 1
        return bytes.fromhex(v)

    def text(self, v, where):
        if not isinstance(v, str) or isinstance(v, _BigInteger):
            self.fail(where, f"expected a string, found {_describe(v)}")
        try:
            v.encode("utf-8")
        except UnicodeEncodeError:
            self.fail(where, "a string that is not valid Unicode (a lone surrogate)")
        return v

    def typed(self, data_type, v, where):
        if data_type == 1:
            return self.text(v, where).encode("utf-8") + b"\0"
        if data_type == 2:
            s = self.text(v, where)
            return struct.pack(f"={len(s) + 1}I", *map(ord, s), 0)
        if data_type == 3:
            return self.hex(v, where)
        code, lo, hi = _INTEGERS[data_type]
        return struct.pack(code, self.integer(v, lo, hi, where))

    def entry(self, index, item):
        where = f"entries[{index}]"
        if not isinstance(item, (dict, _Object)):
            self.nesting(item, 2, where)
            self.fail(where, f"expected an entry object, found {_describe(item)}")
        f = {}
        for key, value in _items(item):
            if key not in ("id", "type", "value", "raw", "name"):
                self.fail(where, f'unknown key "{key}" (an entry has "id", "name", "type", "value" or "raw")')
            self.nesting(value, 3, f"{where}.{key}")
            f[key] = value
        if "id" not in f:
            self.fail(where, 'missing "id"')
        node_id = self.integer(f["id"], 0, 0xFFFFFFFF, where + ".id")
        if "type" not in f:
            self.fail(where, 'missing "type"')
        t = f["type"]
        if isinstance(t, str) and not isinstance(t, _BigInteger):
            data_type = _TYPE_NAMES.get(t[3:] if t.startswith("DT_") else t)
            if data_type is None:
                self.fail(where + ".type", f'unknown type name "{t}"')
        else:
            data_type = self.integer(t, 0, 0xFFFFFFFF, where + ".type")
        typed = 1 <= data_type <= 7
        if "value" in f and "raw" in f:
            self.fail(where, 'give either "value" or "raw", not both')
        data = b""
        if "raw" in f:
            data = self.hex(f["raw"], where + ".raw")
        elif "value" in f:
            if not typed:
                self.fail(where + ".value", f'type {data_type} takes no value (use "raw")')
            data = self.typed(data_type, f["value"], where + ".value")
        elif typed:
            self.fail(where, f'missing "value" for type {data_type}')
        if "name" in f and (not isinstance(f["name"], str) or isinstance(f["name"], _BigInteger)):
            self.fail(where + ".name", f"expected a string, found {_describe(f['name'])}")
        return node_id, data_type, data

    def message(self, message):
        top = self.parse(message)
        if not isinstance(top, (dict, _Object)):
            names = {list: "array", str: "string", type(None): "null", bool: "boolean"}
            raise self.error(f"a JSON {names.get(type(top), 'number')}, expected a message object")
        fields, entries = {}, None
        for key, value in _items(top):
            if key == "entries" and isinstance(value, list):
                if entries is not None:
                    self.fail("entries", "given more than once")
                entries = [self.entry(i, item) for i, item in enumerate(value)]
                continue
            self.nesting(value, 1, key)
            fields[key] = value
            if key == "entries":
                self.fail("entries", f"expected an array, found {_describe(value)}")
        if "kind" not in fields:
            self.fail("kind", 'missing ("log" or "register")')
        kind = fields["kind"]
        if kind not in ("log", "register") or not isinstance(kind, str) or isinstance(kind, _BigInteger):
            self.fail("kind", 'expected "log" or "register"')
        msgtype = None
        if kind == "log":
            if "msgtype" not in fields:
                self.fail("msgtype", "missing (required for a log message)")
            msgtype = self.integer(fields["msgtype"], -0x80000000, 0x7FFFFFFF, "msgtype")
        if entries is None:
            self.fail("entries", "missing")
        return kind, msgtype, entries


def read(message, error):
    """(kind, msgtype, [(id, type, value bytes), ...]) of a JSON message: a
    dict, or its text as str or bytes.  Bad input raises error(place: why)."""
    if not isinstance(message, (dict, str, bytes, bytearray)):
        raise TypeError(f"from_json: expected a dict, str or bytes, got {type(message).__name__}")
    return _Reader(error).message(message)
