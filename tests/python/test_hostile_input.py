"""Hostile input to every method. Each call fails with its own exception type and message, leaves
every document and every file as it was, and the store keeps working afterwards."""
import json
import os
import re

import pytest

import zarvel
from conftest import NONE, UNWRAP, Mapped, PanicException, SealedInt, Seq, file_tree

BAD_JSON = "Error deserializing JSON"
NUL = "file name contained an unexpected NUL byte"
NOT_FINITE = "Malformed query, NaN or infinity found in query"
SURROGATE = re.compile(r"'utf-8' codec can't encode character '\\ud800' in position \d+: surrogates not allowed")


def message(text):
    return f'{UNWRAP}Message("{text}")'


def unexpected(type_name):
    return f"{UNWRAP}UnexpectedType(\"unexpected type: '{type_name}' object cannot be converted to 'PyString'\")"


def host(error, traceback=False):
    """The debug form of a Python exception met during the call; with its traceback as a pattern."""
    text = f"{UNWRAP}PyErr {{ type: <class '{type(error).__name__}'>, value: {error!r}, traceback: "
    if not traceback:
        return text + "None }"
    return re.compile(re.escape(text) + r"Some\(<traceback object at 0x[0-9a-f]+>\) \}")


def wrong(parameter, type_name, target="PyString"):
    return f"argument '{parameter}': '{type_name}' object cannot be converted to '{target}'"


def raiser(error):
    def call(*args):
        raise error

    return call


class Outer:
    class Inner:
        pass


class ItemsCall(dict):
    """A dict subclass, so it passes the argument check; its items() runs `call` first."""

    def __init__(self, call, **entries):
        super().__init__(entries)
        self.call = call

    def items(self):
        self.call()
        return super().items()


LOOP_LIST, LOOP_DICT, LOOP_MAPPING = [], {}, Mapped(lambda: [("self", LOOP_MAPPING)])
LOOP_LIST.append(LOOP_LIST)
LOOP_DICT["self"] = LOOP_DICT


def shrinking_list():
    """A list that code run while its first item converts empties."""
    outer = []

    class Shrinker(Seq):
        def __len__(self):
            outer.clear()
            return 0

    outer.extend([Shrinker(0), 1, 2])
    return outer


# Values no document, query or update may hold, with the panic each gives.
REFUSED = [
    ("2**64", 2**64, message("JSON number out of range")),
    ("2**128-1", 2**128 - 1, message("JSON number out of range")),
    ("-2**63-1", -(2**63) - 1, message("JSON number out of range")),
    ("-2**127", -(2**127), message("JSON number out of range")),
    ("2**128", 2**128, host(OverflowError("int too big to convert"))),
    ("-2**127-1", -(2**127) - 1, host(OverflowError("int too big to convert"))),
    ("int-subclass-2**64", SealedInt(2**64), message("JSON number out of range")),
    ("int-subclass-2**128", SealedInt(2**128), host(OverflowError("int too big to convert"))),
    ("bytes", b"x", message("invalid type: byte array, expected any valid JSON value")),
    ("bytearray", bytearray(b"x"),
     f"{UNWRAP}UnexpectedType(\"unexpected type: 'bytearray' object cannot be converted to 'PyBytes'\")"),
    ("int-key", {1: "a"}, unexpected("int")),
    ("tuple-key-after-a-str-key", {"ok": 1, (1, 2): "a"}, unexpected("tuple")),
    ("user-class", Outer.Inner(), f'{UNWRAP}UnsupportedType("Outer.Inner")'),
    ("object-deep-inside", {"deep": [1, {"x": object()}]}, f'{UNWRAP}UnsupportedType("object")'),
    ("type-name-with-escapes", type('Odd"\\\n\t\x01Name', (), {})(), UNWRAP + 'UnsupportedType("Odd\\"\\\\\\n\\t\\u{1}Name")'),
    ("type-name-with-a-format-character", type("Zero\u200bWidth", (), {})(), UNWRAP + 'UnsupportedType("Zero\\u{200b}Width")'),
    ("lone-surrogate", "\ud800", host(UnicodeEncodeError("utf-8", "\ud800", 0, 1, "surrogates not allowed"))),
    ("lone-surrogate-key", {"\udc00": 1}, host(UnicodeEncodeError("utf-8", "\udc00", 0, 1, "surrogates not allowed"))),
    ("self-list", LOOP_LIST, message("Document nested too deeply")),
    ("self-dict", LOOP_DICT, message("Document nested too deeply")),
    ("self-sequence", Seq(1, lambda seq, i: seq), message("Document nested too deeply")),
    ("self-mapping", LOOP_MAPPING, message("Document nested too deeply")),
    ("len-2**62", Seq(2**62), host(IndexError(4), traceback=True)),
    ("len-2**100", Seq(2**100), host(OverflowError("cannot fit 'int' into an index-sized integer"))),
    ("len-negative", Seq(-1), host(ValueError("__len__() should return >= 0"))),
    ("items-raise", Mapped(items=raiser(ValueError("no items"))), host(ValueError("no items"), traceback=True)),
    ("items-not-iterable", Mapped(items=lambda: 5), host(TypeError("Mapped.items() returned a non-iterable (type int)"))),
    ("items-not-pairs", Mapped(items=lambda: [("a", 1, 2)]), message("items() of a mapping must give (key, value) pairs")),
    ("items-raise-panic", Mapped(items=raiser(PanicException("raised by items()"))), "raised by items()"),
]

# Each way a document-shaped value reaches the conversion.
CARRIERS = {
    "insert_many": lambda z, v: z.insert_many("c", [{"ok": 1}, v]),  # nothing appended before it
    "insert": lambda z, v: z.insert("new", {"v": v}),  # no collection created
    "find": lambda z, v: z.find("c", {"v": v}),
    "update": lambda z, v: z.update("c", {"v": v}),
    "update-query": lambda z, v: z.update("c", {"i": 0}, {"v": v}),
}

# Every method that takes a collection name, with otherwise valid arguments.
NAMED = {
    "create_collection": lambda z, n: z.create_collection(n),
    "drop_collection": lambda z, n: z.drop_collection(n),
    "insert": lambda z, n: z.insert(n, {"a": 1}),
    "insert_many": lambda z, n: z.insert_many(n, [{"a": 1}]),
    "insert_many_from_document": lambda z, n: z.insert_many_from_document(n, "docs.json"),
    "find": lambda z, n: z.find(n, {"a": 1}),
    "update": lambda z, n: z.update(n, {"a": 2}),
    "write": lambda z, n: z.write(n),
}

# Import and collection files nobody should have to read; "deep" is 100 MB of "[".
BAD_FILES = {"directory": "dir", "empty": b"", "binary": bytes(range(256)), "100MB-of-[": "deep",
             "truncated": b'[{"a": 1}, {"b": tru', "byte-order-mark": b"\xef\xbb\xbf[]", "bad-utf8": b'["\xff"]'}

# Each reader of a file, with what it raises for a file it cannot read.
READERS = {
    "load_from_document": ("in.json", lambda z: z.load_from_document("in.json"), ValueError, BAD_JSON),
    "insert_many_from_document": ("in.json", lambda z: z.insert_many_from_document("c", "in.json"), ValueError, BAD_JSON),
    "start-up-load": ("db/x.json", lambda z: zarvel.Zarvel("db"), ValueError, BAD_JSON),
    "find": ("db/x.json", lambda z: z.find("x"), ValueError, BAD_JSON),
    "insert": ("db/x.json", lambda z: z.insert("x", {"a": 1}), ValueError, BAD_JSON),
    "update": ("db/x.json", lambda z: z.update("x", {"a": 1}), PanicException, host(ValueError(BAD_JSON))),
}

def case(name, call, error, expected, files=None):
    return pytest.param(call, error, expected, files or {}, id=name)


def bound(carrier, argument):
    return lambda z: carrier(z, argument)


CASES = [
    # Arguments: count, keywords and types, checked before the store is touched.
    case("new-no-name", lambda z: zarvel.Zarvel(), TypeError, "Zarvel.__new__() missing 1 required positional argument: 'name'"),
    case("new-two-names", lambda z: zarvel.Zarvel("a", "b"), TypeError, "Zarvel.__new__() takes 1 positional arguments but 2 were given"),
    case("new-unknown-keyword", lambda z: zarvel.Zarvel(nme="a"), TypeError, "Zarvel.__new__() got an unexpected keyword argument 'nme'"),
    case("new-int", lambda z: zarvel.Zarvel(1), TypeError, wrong("name", "int")),
    case("find-three-positional", lambda z: z.find("a", None, 3), TypeError, "Zarvel.find() takes from 1 to 2 positional arguments but 3 were given"),
    case("find-name-twice", lambda z: z.find("a", collection_name="b"), TypeError, "Zarvel.find() got multiple values for argument 'collection_name'"),
    case("insert-nothing", lambda z: z.insert(), TypeError, "Zarvel.insert() missing 2 required positional arguments: 'collection_name' and 'document'"),
    case("insert-user-class-as-document", lambda z: z.insert("c", Outer.Inner()), TypeError, wrong("document", "Outer.Inner", "PyDict")),
    case("insert-mapping-as-document", lambda z: z.insert("c", Mapped()), TypeError, wrong("document", "Mapped", "PyDict")),
    case("insert_many-tuple", lambda z: z.insert_many("c", ({"a": 1},)), TypeError, wrong("documents", "tuple", "PyList")),
    case("update-query-list", lambda z: z.update("c", [], None), TypeError, wrong("update_query", "list", "PyDict")),
    case("update-maybe_query-list", lambda z: z.update("c", {}, [], True), TypeError, wrong("maybe_query", "list", "PyDict")),
    case("update-return_result-1", lambda z: z.update("c", {}, None, 1), TypeError, wrong("return_result", "int", "PyBool")),
    case("load-none", lambda z: z.load_from_document(None), TypeError, wrong("document_path", "NoneType")),
    case("import-float-path", lambda z: z.insert_many_from_document("c", 2.0), TypeError, wrong("document_name", "float")),
    case("drop-int-keyword", lambda z: z.drop_collection(collection_name=3), TypeError, wrong("collection_name", "int")),
    *[case(f"{m}-argument", lambda z, m=m: getattr(z, m)(1), TypeError, re.compile(rf"Zarvel\.{m}\(\) takes no arguments \(1 given\)"))
      for m in ("collections", "drop_all", "write_all", "clear_cache")],
    case("collections-keyword", lambda z: z.collections(x=1), TypeError, "Zarvel.collections() takes no keyword arguments"),
    # Lone surrogates in names and paths: the interpreter's own encoding error.
    case("new-surrogate", lambda z: zarvel.Zarvel("\ud800"), UnicodeEncodeError, SURROGATE),
    case("load-surrogate", lambda z: z.load_from_document("\ud800"), UnicodeEncodeError, SURROGATE),
    case("import-surrogate-path", lambda z: z.insert_many_from_document("c", "a\ud800"), UnicodeEncodeError, SURROGATE),
    *[case(f"{m}-surrogate-name", bound(call, "\ud800"), UnicodeEncodeError, SURROGATE) for m, call in NAMED.items()],
    # Names that would leave the store directory.
    *[case(f"{m}-name-{name!r}", bound(call, name), ValueError, f"Invalid collection name '{name}'")
      for m, call in NAMED.items() for name in ("", "a/b", "../x", "/etc/x", "x/", "/")],
    case("load-member-with-slash", lambda z: z.load_from_document("in.json"), ValueError, "Invalid collection name 'b/c'",
         {"in.json": b'{"a":[{}],"b/c":[{}]}'}),
    # NUL bytes reach the file system, which refuses them; names too long for the file system (with
    # the 27 bytes of a temporary file name) are refused before it is touched.
    case("create-nul", lambda z: z.create_collection("a\0b"), OSError, NUL),
    case("insert-nul", lambda z: z.insert("a\0b", {"a": 1}), OSError, NUL),
    case("insert_many-nul", lambda z: z.insert_many("a\0b", []), OSError, NUL),
    case("import-nul", lambda z: z.insert_many_from_document("a\0b", "docs.json"), OSError, NUL, {"docs.json": b"[{}]"}),
    case("find-nul", lambda z: z.find("a\0b"), ValueError, "Collection with name 'a\0b' not found on disk"),
    case("update-nul", lambda z: z.update("a\0b", {}), PanicException, host(ValueError("Collection with name 'a\0b' not found on disk"))),
    case("write-nul", lambda z: z.write("a\0b"), ValueError, "Collection 'a\0b' not found in stored collections"),
    case("new-nul", lambda z: zarvel.Zarvel("d\0b").collections(), OSError, NUL),
    case("load-nul-path", lambda z: z.load_from_document("in\0.json"), OSError, "Error opening document file name contained an unexpected NUL byte"),
    *[case(f"{m}-{size}-bytes", bound(call, "x" * size), ValueError, f"Invalid collection name '{'x' * size}'")
      for m, call in NAMED.items() for size in (229, 300)],
    case("load-member-with-nul", lambda z: z.load_from_document("in.json"), OSError, NUL,
         {"in.json": b'{"a":[{}],"b\\u0000c":[{}]}'}),
    case("load-member-with-unreadable-file", lambda z: z.load_from_document("in.json"), ValueError, BAD_JSON,
         {"in.json": b'{"a":[{}],"bad":[{}]}', "db/bad.json": b"[1,"}),
    # Store directories that are not directories.
    case("new-on-a-file", lambda z: zarvel.Zarvel("afile"), OSError, "Not a directory (os error 20)", {"afile": b"x"}),
    case("new-below-a-file", lambda z: zarvel.Zarvel("afile/db").collections(), OSError, "Not a directory (os error 20)", {"afile": b"x"}),
    case("new-missing-parent-list", lambda z: zarvel.Zarvel("no/db").collections(), FileNotFoundError, "No such file or directory (os error 2)"),
    case("new-missing-parent-create", lambda z: zarvel.Zarvel("no/db").create_collection("c"), FileNotFoundError, "No such file or directory (os error 2)"),
    # Files that cannot be opened, or hold something other than what their reader expects.
    case("load-missing", lambda z: z.load_from_document("missing.json"), OSError, "Error opening document No such file or directory (os error 2)"),
    case("import-missing", lambda z: z.insert_many_from_document("c", "missing.json"), OSError, "Error opening document No such file or directory (os error 2)"),
    case("load-symlink-loop", lambda z: z.load_from_document("in.json"), OSError,
         "Error opening document Too many levels of symbolic links (os error 40)", {"in.json": "loop"}),
    case("load-dev-zero", lambda z: z.load_from_document("/dev/zero"), ValueError, BAD_JSON),
    case("load-array", lambda z: z.load_from_document("in.json"), PanicException, NONE, {"in.json": b"[1]"}),
    case("import-object", lambda z: z.insert_many_from_document("c", "in.json"), ValueError, "Document is not an array", {"in.json": b'{"a":1}'}),
    case("import-into-unreadable-collection", lambda z: z.insert_many_from_document("bad", "in.json"), ValueError, BAD_JSON,
         {"in.json": b"[{}]", "db/bad.json": b"[1,"}),
    # (The start-up load skips a directory named x.json, test_registry.py.)
    *[case(f"{reader}-{kind}", call, error, expected, {path: content})
      for reader, (path, call, error, expected) in READERS.items() for kind, content in BAD_FILES.items()
      if (reader, content) != ("start-up-load", "dir")],
    case("start-up-keyed-form-of-another-name", lambda z: zarvel.Zarvel("db"), PanicException, NONE, {"db/x.json": b'{"other":[]}'}),
    case("start-up-scalar", lambda z: zarvel.Zarvel("db"), PanicException, NONE, {"db/x.json": b"5"}),
    case("find-keyed-form-of-another-name", lambda z: z.find("x"), PanicException, NONE, {"db/x.json": b'{"other":[]}'}),
    # Collections that are missing, or hold documents that are not objects.
    case("find-missing", lambda z: z.find("missing"), ValueError, "Collection with name 'missing' not found on disk"),
    case("update-missing", lambda z: z.update("nope", {"n": 1}), PanicException, host(ValueError("Collection with name 'nope' not found on disk"))),
    case("write-unregistered-with-file", lambda z: z.write("nope"), ValueError, "Collection 'nope' not found in stored collections", {"db/nope.json": b"[]"}),
    # Writing where the collection file is a directory.
    case("write-over-a-directory", lambda z: z.write("k"), OSError,
         'Error renaming file: Os { code: 21, kind: IsADirectory, message: "Is a directory" }', {"db/k.json": "dir"}),
    # Malformed queries and updates, one per way an error leaves find and update (each message of the
    # query engine is tested in C++); the comparisons fail on the second document, after the first matched.
    case("find-lt-string-field", lambda z: z.find("c", {"s": {"$lt": 5}}), ValueError, "Malformed query, non-numeric value found for operator LessThan"),
    case("find-lte-string-operand", lambda z: z.find("c", {"s": {"$lte": "x"}}), ValueError, "Malformed query, non-numeric value found for operator LessThanEqual"),
    case("find-empty-object", lambda z: z.find("c", {"a": {}}), PanicException, "Error while parsing query"),
    case("update-unknown-keyword", lambda z: z.update("c", {"i": {"$append": 1}}), PanicException, "Unknown update query operator found: $append"),
    case("update-query-compares-a-string", lambda z: z.update("c", {"i": 0}, {"s": {"$lt": 5}}), PanicException,
         host(ValueError("Malformed query, non-numeric value found for operator LessThan"))),
    # NaN and infinities would match null fields: refused in queries, also when the answer is cached.
    case("find-nan", lambda z: z.find("c", {"i": {"$ne": float("nan")}}), PanicException, NOT_FINITE),
    case("find-infinity-inside-an-operand", lambda z: z.find("c", {"i": {"$eq": [1, {"x": float("inf")}]}}),
         PanicException, NOT_FINITE),
    case("find-nan-after-null-was-cached", lambda z: (z.find("c", {"s": {"$eq": None}}), z.find("c", {"s": {"$eq": float("nan")}})),
         PanicException, NOT_FINITE),
    case("update-query-minus-infinity", lambda z: z.update("c", {"i": 0}, {"s": {"$lt": float("-inf")}}),
         PanicException, NOT_FINITE),
    # Values that cannot become documents, through every method that converts one.
    *[case(f"{carrier}-{name}", bound(call, value), PanicException, expected)
      for carrier, call in CARRIERS.items() for name, value, expected in REFUSED],
    # User code run by the conversion that calls the store again.
    case("insert-items-inserts", lambda z: z.insert("c", {"m": Mapped(items=lambda: z.insert("c", {"evil": 1}))}),
         PanicException, host(RuntimeError("Already borrowed"), traceback=True)),
    case("find-items-writes", lambda z: z.find("c", {"m": Mapped(items=lambda: z.write("c"))}),
         PanicException, host(RuntimeError("Already mutably borrowed"), traceback=True)),
    case("update-items-drops-all", lambda z: z.update("c", ItemsCall(z.drop_all, i=5)),
         PanicException, host(RuntimeError("Already borrowed"), traceback=True)),
    case("update-query-items-lists", lambda z: z.update("c", {"i": 5}, ItemsCall(z.collections, i=1)),
         PanicException, host(RuntimeError("Already mutably borrowed"), traceback=True)),
    case("insert-list-emptied-while-walked", lambda z: z.insert("c", {"l": shrinking_list()}),
         PanicException, host(IndexError("list index out of range"))),
    case("insert_many-list-subclass-raises", lambda z: z.insert_many("c", type("Items", (list,), {"__getitem__": raiser(KeyError("no"))})([1])),
         PanicException, host(KeyError("no"), traceback=True)),
]


@pytest.fixture(scope="module")
def deep_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("deep") / "deep.json"
    path.write_bytes(b"[" * 100_000_000)  # one write; every case that needs it gets a hard link
    return path


@pytest.fixture
def hostile_store(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    store = zarvel.Zarvel("db")
    store.insert_many("c", [{"i": 1, "s": 0}, {"i": 2, "s": "x"}])
    store.write("c")
    store.insert("k", {"k": [1]})  # its file stays in the keyed form
    store.find("c", {"i": 1})  # a cached answer
    return store


def plant(files, deep_file):
    for path, content in files.items():
        if os.path.isfile(path):
            os.remove(path)
        if content == "dir":
            os.mkdir(path)
        elif content == "deep":
            os.link(deep_file, path)
        elif content == "loop":
            os.symlink(os.path.basename(path), path)
        else:
            with open(path, "wb") as f:
                f.write(content)


def snapshot(store):
    """The files below the working directory and the documents of the store."""
    return file_tree(), [store.find(name) for name in ("c", "k")], store.find("c", {"i": 1})


@pytest.mark.parametrize("call, error, expected, files", CASES)
def test_hostile_input_fails_cleanly(hostile_store, deep_file, call, error, expected, files):
    plant(files, deep_file)
    before = snapshot(hostile_store)
    with pytest.raises(BaseException) as info:
        call(hostile_store)
    raised = info.value
    assert type(raised) is error, repr(raised)
    if isinstance(expected, re.Pattern):
        assert expected.fullmatch(str(raised)), str(raised)
    else:
        assert raised.args == (expected,)
    if isinstance(raised, OSError):
        assert raised.errno is None
    assert snapshot(hostile_store) == before
    hostile_store.insert("c", {"after": 1})
    assert hostile_store.find("c", {"after": 1}) == [{"after": 1}]
    hostile_store.write("c")
    with open("db/c.json") as f:
        assert json.load(f) == hostile_store.find("c")
