"""Python objects into documents and back, as insert_many and find show them: the type mapping, the
integer range, refused objects and their error texts, user containers, nesting, reference counts."""
import collections
import collections.abc
import enum
import math
import random
import re
import sys

import pytest

import zarvel
from conftest import PanicException

UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def round_trip(store, values):
    store.insert_many("c", list(values))
    return store.find("c")


def conversion_error(store, document, method="insert_many"):
    """The debug form that a failing conversion puts after the unwrap text."""
    with pytest.raises(PanicException) as info:
        if method == "insert_many":
            store.insert_many("c", [document])
        else:
            store.insert("c", document)
    message = str(info.value)
    assert message.startswith(UNWRAP)
    return message[len(UNWRAP):]


@pytest.fixture
def unraisable(monkeypatch):
    """The reports that reach sys.unraisablehook during the test."""
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    return reported


def same_types(a, b):
    """Equal values of equal types all the way down (1 == 1.0 == True would hide a wrong number form)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same_types(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same_types(a[k], b[k]) for k in a)
    if isinstance(a, float) and math.isnan(a):
        return math.isnan(b)
    return a == b and (not isinstance(a, float) or math.copysign(1, a) == math.copysign(1, b))


def normalised(value):
    """What a document reads back as: keys in byte order (recursively), tuples as lists."""
    if isinstance(value, dict):
        return {k: normalised(value[k]) for k in sorted(value, key=lambda k: k.encode())}
    if isinstance(value, (list, tuple)):
        return [normalised(v) for v in value]
    return value


class Color(enum.IntEnum):
    RED = 7


class Meters(float):
    pass


class Name(str):
    pass


class Items(list):
    pass


class Pair(tuple):
    pass


class Tags(set):
    pass


Point3 = collections.namedtuple("Point3", "x y z")


class Countdown(collections.abc.Sequence):
    def __init__(self, n):
        self.n = n

    def __len__(self):
        return self.n

    def __getitem__(self, i):
        if not 0 <= i < self.n:
            raise IndexError(i)
        return self.n - i


class Record:
    """A mapping only by registration: the conversion must use keys() and values()."""

    def __init__(self, **fields):
        self.fields = fields
        self.calls = []

    def keys(self):
        self.calls.append("keys")
        return list(self.fields)

    def values(self):
        self.calls.append("values")
        return list(self.fields.values())

    def __len__(self):
        self.calls.append("len")
        return len(self.fields)


collections.abc.Mapping.register(Record)


class Point:
    pass


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "given, expected",
    [
        # scalars keep their kind: True is not 1, 1 is not 1.0
        (None, None),
        (True, True),
        (False, False),
        (0, 0),
        (1, 1),
        (-1, -1),
        (1.0, 1.0),
        (-0.0, -0.0),
        (1.5e300, 1.5e300),
        (5e-324, 5e-324),
        ("", ""),
        ("plain", "plain"),
        ("é€😀\x00\n", "é€😀\x00\n"),
        # edges of the two integer forms
        (2**63 - 1, 2**63 - 1),
        (2**63, 2**63),
        (2**64 - 1, 2**64 - 1),
        (-(2**63), -(2**63)),
        # non-finite floats silently become null
        (float("nan"), None),
        (float("inf"), None),
        (float("-inf"), None),
        # every sequence and set becomes a list
        ([], []),
        ([1, "a", None], [1, "a", None]),
        ((1, 2), [1, 2]),
        ({3}, [3]),
        (frozenset({4}), [4]),
        ({}, {}),
        ({"k": [1, {"n": (2.5,)}]}, {"k": [1, {"n": [2.5]}]}),
        # subclasses convert as their base type and come back as plain built-ins
        (Color.RED, 7),
        (Meters(2.5), 2.5),
        (Name("n"), "n"),
        (Items([1, 2]), [1, 2]),
        (Pair((1, 2)), [1, 2]),
        (Point3(1, 2, 3), [1, 2, 3]),
        (Tags({5}), [5]),
        (collections.OrderedDict([("b", 1), ("a", 2)]), {"a": 2, "b": 1}),
        (collections.defaultdict(int, {"x": 1}), {"x": 1}),
        ({Name("k"): 1}, {"k": 1}),
        # abstract-base-class containers
        (Countdown(3), [3, 2, 1]),
        (Record(z=1, a=[2]), {"a": [2], "z": 1}),
    ],
)
def test_type_mapping(store, given, expected):
    [found] = round_trip(store, [given])
    assert same_types(found, expected), (given, found)


def test_registered_mapping_is_read_through_keys_and_values(store):
    record = Record(b=1, a=2)
    assert round_trip(store, [record]) == [{"a": 2, "b": 1}]
    assert record.calls == ["keys", "values", "len"]


def test_keys_come_back_in_byte_order(store):
    [found] = round_trip(store, [{"b": 1, "é": 2, "ab": 3, "B": 4, "a": 5, "": 6}])
    assert list(found) == ["", "B", "a", "ab", "b", "é"]


class SameText(str):
    """Equal texts that a dict keeps apart."""

    __hash__ = object.__hash__

    def __eq__(self, other):
        return self is other


@pytest.mark.parametrize("later", [2, [2]], ids=["scalar-values", "container-values"])
def test_keys_with_equal_text_keep_the_last(store, later):
    document = {SameText("a"): 1, "m": 0, SameText("a"): later}
    assert len(document) == 3
    assert round_trip(store, [document]) == [{"a": later, "m": 0}]


@pytest.mark.parametrize(
    "document, debug_form",
    [
        (2**64, 'Message("JSON number out of range")'),
        (2**128 - 1, 'Message("JSON number out of range")'),
        (-(2**63) - 1, 'Message("JSON number out of range")'),
        (-(2**127), 'Message("JSON number out of range")'),
        (
            2**200,
            "PyErr { type: <class 'OverflowError'>, value: OverflowError('int too big to convert'), traceback: None }",
        ),
        (
            2**128,
            "PyErr { type: <class 'OverflowError'>, value: OverflowError('int too big to convert'), traceback: None }",
        ),
        (
            -(2**127) - 1,
            "PyErr { type: <class 'OverflowError'>, value: OverflowError('int too big to convert'), traceback: None }",
        ),
        (b"x", 'Message("invalid type: byte array, expected any valid JSON value")'),
        (bytearray(b"x"), "UnexpectedType(\"unexpected type: 'bytearray' object cannot be converted to 'PyBytes'\")"),
        ({1: "a"}, "UnexpectedType(\"unexpected type: 'int' object cannot be converted to 'PyString'\")"),
        ({"ok": 1, (1, 2): "a"}, "UnexpectedType(\"unexpected type: 'tuple' object cannot be converted to 'PyString'\")"),
        ({"ok": [1], 2.5: 1}, "UnexpectedType(\"unexpected type: 'float' object cannot be converted to 'PyString'\")"),
        (Point(), 'UnsupportedType("Point")'),
        (Outer.Inner(), 'UnsupportedType("Outer.Inner")'),
        (1j, 'UnsupportedType("complex")'),
        ({"deep": [1, {"x": object()}]}, 'UnsupportedType("object")'),
        (
            "\ud800",
            "PyErr { type: <class 'UnicodeEncodeError'>, value: UnicodeEncodeError('utf-8', '\\ud800', 0, 1, "
            "'surrogates not allowed'), traceback: None }",
        ),
        (
            {"\udc00": 1},
            "PyErr { type: <class 'UnicodeEncodeError'>, value: UnicodeEncodeError('utf-8', '\\udc00', 0, 1, "
            "'surrogates not allowed'), traceback: None }",
        ),
    ],
)
def test_refused_values(store, document, debug_form):
    store.insert_many("c", [{"before": 1}])
    assert conversion_error(store, document) == debug_form
    # The failing call appended nothing.
    assert store.find("c") == [{"before": 1}]


def test_debug_form_escapes_the_text(store):
    weird = type('Odd"\\\n\t\x01Name', (), {})
    assert conversion_error(store, weird()) == 'UnsupportedType("Odd\\"\\\\\\n\\t\\u{1}Name")'


def test_failing_user_container_carries_its_traceback(store):
    class Broken(collections.abc.Sequence):
        def __len__(self):
            return 1

        def __getitem__(self, i):
            raise ZeroDivisionError("no items")

    debug_form = conversion_error(store, {"a": Broken()})
    assert re.fullmatch(
        r"PyErr \{ type: <class 'ZeroDivisionError'>, value: ZeroDivisionError\('no items'\), "
        r"traceback: Some\(<traceback object at 0x[0-9a-f]+>\) \}",
        debug_form,
    ), debug_form


def test_unprintable_exception_in_debug_form(store, unraisable):
    class Unprintable(Exception):
        def __repr__(self):
            raise RuntimeError("no repr")

    class Raising(collections.abc.Sequence):
        def __len__(self):
            raise Unprintable()

        def __getitem__(self, i):
            return i

    debug_form = conversion_error(store, Raising())
    assert debug_form.startswith("PyErr { type: <class '")
    assert ", value: <unprintable Unprintable object>, traceback: Some(" in debug_form
    assert [type(r.exc_value) for r in unraisable] == [RuntimeError]


def test_raising_instance_check_counts_as_false(store, unraisable):
    class Elusive:
        @property
        def __class__(self):
            raise ValueError("no class")

    assert conversion_error(store, Elusive()) == f'UnsupportedType("{Elusive.__qualname__}")'
    # One report for the Sequence check, one for the Mapping check.
    assert [type(r.exc_value) for r in unraisable] == [ValueError, ValueError]


def nested(depth, kinds=(dict, list, tuple)):
    """A value of `depth` containers, cycling through `kinds`, around the number 1."""
    value = 1
    for level in range(depth):
        kind = kinds[level % len(kinds)]
        value = {"k": value} if kind is dict else kind([value])
    return value


@pytest.mark.parametrize("kinds", [(dict,), (list,), (dict, list, tuple)], ids=["dicts", "lists", "mixed"])
def test_nesting_limit(store, kinds):
    # A document is the first level; insert_many's list adds one more around it.
    store.insert_many("c", [nested(125, kinds)])
    assert conversion_error(store, nested(126, kinds)) == 'Message("Document nested too deeply")'
    store.insert("c", {"k": nested(125, kinds)})
    assert conversion_error(store, {"k": nested(126, kinds)}, method="insert") == (
        'Message("Document nested too deeply")'
    )
    assert store.find("c") == [normalised(nested(125, kinds)), normalised({"k": nested(125, kinds)})]


def test_self_referencing_containers(store):
    loop = []
    loop.append(loop)
    assert conversion_error(store, {"l": loop}, method="insert") == 'Message("Document nested too deeply")'
    cycle = {}
    cycle["self"] = cycle
    assert conversion_error(store, cycle, method="insert") == 'Message("Document nested too deeply")'


def test_dict_changed_by_code_run_during_its_walk(store):
    """The entries are those the dict held when its conversion began."""
    outer = {}

    class Meddler(collections.abc.Sequence):
        def __len__(self):
            outer.clear()
            outer["late"] = 3
            return 1

        def __getitem__(self, i):
            return "m"

    outer.update({"first": 1, "seq": Meddler(), "after": [2]})
    assert round_trip(store, [outer]) == [{"after": [2], "first": 1, "seq": ["m"]}]


def test_list_shrunk_by_code_run_during_its_walk(store):
    outer = []

    class Shrinker(collections.abc.Sequence):
        def __len__(self):
            outer.clear()
            return 0

        def __getitem__(self, i):
            raise IndexError(i)

    outer.extend([Shrinker(), 1, 2])
    assert conversion_error(store, {"l": outer}, method="insert") == (
        "PyErr { type: <class 'IndexError'>, value: IndexError('list index out of range'), traceback: None }"
    )


def random_value(rng, depth=0):
    choice = rng.randrange(12 if depth < 4 else 8)
    if choice == 0:
        return None
    if choice == 1:
        return rng.random() < 0.5
    if choice == 2:
        return rng.choice([0, 1, -1, 2**63 - 1, 2**63, 2**64 - 1, -(2**63), rng.randrange(-(2**63), 2**64)])
    if choice == 3:
        return rng.choice([0.0, -0.0, 1.0, -2.5, 1e308, 5e-324, rng.uniform(-1e6, 1e6)])
    if choice in (4, 5, 6, 7):
        alphabet = "abcXYZ _\x00\n\"\\é€😀"
        return "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 20 if choice == 4 else 3)))
    if choice in (8, 9):
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 5))]
    keys = ["a", "b", "B", "ab", "é", "", "long_key" * 3]
    return {rng.choice(keys): random_value(rng, depth + 1) for _ in range(rng.randrange(0, 6))}


def test_random_documents_round_trip_through_memory_and_files(store, store_dir):
    rng = random.Random(20240611)
    documents = [{"v": random_value(rng), "i": i} for i in range(400)]
    found = round_trip(store, documents)
    store.write("c")
    reopened = zarvel.Zarvel(str(store_dir)).find("c")
    assert len(found) == len(documents)
    for original, back, read in zip(documents, found, reopened):
        assert same_types(back, normalised(original)), original
        assert same_types(read, back), original


def test_no_reference_leaks(store):
    key = "".join(["shared", "_key"])  # built at run time: not interned, so its count is real
    inner = [1, "x", 2.5]
    document = {key: inner, "n": {"deep": inner}}
    failing = {key: inner, "z": b"bytes"}
    store.insert("d", document)
    counts = sys.getrefcount(key), sys.getrefcount(inner), sys.getrefcount(document)
    for _ in range(10_000):
        store.insert("c", document)
        assert store.find("d") == [document]
        with pytest.raises(PanicException):
            store.insert("c", failing)
    assert len(store.find("c")) == 10_000
    assert (sys.getrefcount(key), sys.getrefcount(inner), sys.getrefcount(document)) == counts


def test_memory_stays_flat_over_repeated_inserts_and_finds(store):
    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096

    documents = [{"i": i, "name": "x" * 20, "tags": [i, "t"], "o": {"f": i / 3}} for i in range(2000)]

    def cycle():
        store.insert_many("m", documents)
        store.find("m")
        store.find("m", {"o.f": {"$gte": 100}})
        store.drop_collection("m")

    for _ in range(10):
        cycle()
    before = resident_bytes()
    for _ in range(50):  # 100k documents in and out
        cycle()
    assert resident_bytes() - before < 16 * 2**20
