"""What Python sees of the module and the class: attributes, signatures, argument errors."""
import inspect
import weakref

import pytest

import zarvel
from conftest import PanicException, run_python

METHODS = [
    ("load_from_document", "($self, document_path)"),
    ("create_collection", "($self, collection_name)"),
    ("insert", "($self, collection_name, document)"),
    ("insert_many", "($self, collection_name, documents)"),
    ("insert_many_from_document", "($self, collection_name, document_name)"),
    ("find", "($self, collection_name, maybe_query=None)"),
    ("update", "($self, collection_name, update_query, maybe_query=None, return_result=False)"),
    ("collections", "($self)"),
    ("drop_collection", "($self, collection_name)"),
    ("drop_all", "($self)"),
    ("write", "($self, collection_name)"),
    ("write_all", "($self)"),
    ("clear_cache", "($self)"),
]


def test_module_exports_only_the_class():
    assert zarvel.__all__ == ["Zarvel"]
    own = {name for name in vars(zarvel) if not name.startswith("__")}
    assert own == {"Zarvel"}
    assert isinstance(zarvel.__doc__, str) and "\n" not in zarvel.__doc__.strip()


def test_class_properties(store):
    cls = zarvel.Zarvel
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", "Zarvel", "Zarvel")
    assert cls.__doc__ is None
    assert cls.__text_signature__ == "(name)"
    assert repr(store).startswith("<builtins.Zarvel object at 0x")
    assert cls.__init__ is object.__init__
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        store.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(store)
    import gc

    assert not gc.is_tracked(store)


def test_method_table_order_and_signatures():
    names = [name for name, value in vars(zarvel.Zarvel).items() if callable(value) and not name.startswith("__")]
    assert names == [name for name, _ in METHODS]
    for name, signature in METHODS:
        method = getattr(zarvel.Zarvel, name)
        assert method.__text_signature__ == signature, name
        assert method.__doc__ is None, name
    parameters = list(inspect.signature(zarvel.Zarvel.update).parameters.values())
    assert [(p.name, p.default) for p in parameters[1:]] == [
        ("collection_name", inspect.Parameter.empty),
        ("update_query", inspect.Parameter.empty),
        ("maybe_query", None),
        ("return_result", False),
    ]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters[1:])


ARGUMENT_ERRORS = [
    (lambda z: zarvel.Zarvel(), "Zarvel.__new__() missing 1 required positional argument: 'name'"),
    (lambda z: zarvel.Zarvel("a", "b"), "Zarvel.__new__() takes 1 positional arguments but 2 were given"),
    (lambda z: zarvel.Zarvel(nme="a"), "Zarvel.__new__() got an unexpected keyword argument 'nme'"),
    (lambda z: zarvel.Zarvel(1), "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda z: z.find("a", None, 3), "Zarvel.find() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda z: z.find("a", collection_name="b"), "Zarvel.find() got multiple values for argument 'collection_name'"),
    (lambda z: z.find(), "Zarvel.find() missing 1 required positional argument: 'collection_name'"),
    (lambda z: z.insert(), "Zarvel.insert() missing 2 required positional arguments: 'collection_name' and 'document'"),
    (lambda z: z.insert("c", doc={}), "Zarvel.insert() got an unexpected keyword argument 'doc'"),
    (lambda z: z.insert("c", [{"a": 1}]), "argument 'document': 'list' object cannot be converted to 'PyDict'"),
    (lambda z: z.insert(1, {}), "argument 'collection_name': 'int' object cannot be converted to 'PyString'"),
    (lambda z: z.insert_many("c", ({"a": 1},)), "argument 'documents': 'tuple' object cannot be converted to 'PyList'"),
    (lambda z: z.update(), "Zarvel.update() missing 2 required positional arguments: 'collection_name' and 'update_query'"),
    (lambda z: z.update("c", {}, None, 1), "argument 'return_result': 'int' object cannot be converted to 'PyBool'"),
    (lambda z: z.update("c", {}, [], True), "argument 'maybe_query': 'list' object cannot be converted to 'PyDict'"),
    (lambda z: z.update("c", {}, None, False, 5), "Zarvel.update() takes from 2 to 4 positional arguments but 5 were given"),
    (lambda z: z.find("c", maybe_query=1), "argument 'maybe_query': 'int' object cannot be converted to 'PyDict'"),
    (lambda z: z.write(b"c"), "argument 'collection_name': 'bytes' object cannot be converted to 'PyString'"),
    (lambda z: z.load_from_document(None), "argument 'document_path': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda z: z.insert_many_from_document("c", 2.0), "argument 'document_name': 'float' object cannot be converted to 'PyString'"),
    (lambda z: z.drop_collection(collection_name=3), "argument 'collection_name': 'int' object cannot be converted to 'PyString'"),
    (lambda z: z.create_collection("a", "b"), "Zarvel.create_collection() takes 1 positional arguments but 2 were given"),
]


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS, ids=[m for _, m in ARGUMENT_ERRORS])
def test_argument_errors(store, call, message):
    with pytest.raises(TypeError) as info:
        call(store)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert info.value.args == (message,)


def test_keywords_and_defaults_bind(store_dir):
    store = zarvel.Zarvel(name=str(store_dir))
    store.create_collection(collection_name="c")
    store.drop_collection(collection_name="c")
    assert store.collections() == []


def test_no_args_methods_refuse_arguments(store):
    for name in ("collections", "drop_all", "write_all", "clear_cache"):
        with pytest.raises(TypeError):
            getattr(store, name)(1)


def test_lone_surrogate_name_raises_the_interpreters_error(store):
    with pytest.raises(UnicodeEncodeError):
        store.create_collection("\udcff")


def test_numpy_booleans_are_accepted_for_return_result(store):
    numpy = pytest.importorskip("numpy")
    # The flag is converted before the body runs; an unknown collection fails only after that.
    with pytest.raises(TypeError) as info:
        store.update("c", {}, None, numpy.int64(1))
    assert str(info.value) == "argument 'return_result': 'int64' object cannot be converted to 'PyBool'"
    for flag in (numpy.bool_(True), numpy.bool_(False)):
        with pytest.raises(BaseException) as info:
            store.update("missing", {}, None, flag)
        assert not isinstance(info.value, TypeError)


def test_panic_exception_is_a_base_exception_and_the_store_stays_usable(store, store_dir):
    assert issubclass(PanicException, BaseException)
    assert not issubclass(PanicException, Exception)
    assert PanicException.__name__ == "PanicException"
    store_dir.rmdir()
    with pytest.raises(PanicException) as info:
        try:
            store.drop_all()
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("except Exception caught PanicException")
    assert str(info.value).startswith(
        "called `Result::unwrap()` on an `Err` value: PyErr { type: <class 'FileNotFoundError'>"
    )
    store_dir.mkdir()
    store.create_collection("c")  # no "Already borrowed": the borrow was given back
    assert store.collections() == ["c"]


def test_internal_failure_writes_a_diagnostic_to_stderr(tmp_path):
    code = (
        "import os, zarvel\n"
        f"z = zarvel.Zarvel({str(tmp_path / 'db')!r}); os.rmdir({str(tmp_path / 'db')!r})\n"
        "for _ in range(2):\n"
        "    try: z.drop_all()\n"
        "    except BaseException: pass\n"
    )
    code_rc, _, err = run_python(code)
    assert code_rc == 0
    lines = err.splitlines()
    assert lines[0].startswith("thread '<unnamed>' panicked at src/")
    assert lines[1].startswith("called `Result::unwrap()` on an `Err` value: PyErr {")
    # The note comes with the first failure only.
    assert sum(line.startswith("thread '<unnamed>' panicked at") for line in lines) == 2
    assert len(lines) == 5


def test_module_is_created_once_and_refuses_sub_interpreters():
    code = (
        "import sys, zarvel, importlib\n"
        "first = zarvel\n"
        "del sys.modules['zarvel']\n"
        "import zarvel\n"
        "assert zarvel is first\n"
        "import _testcapi\n"
        "print(_testcapi.run_in_subinterp('import zarvel'))\n"
    )
    rc, out, err = run_python(code)
    assert rc == 0, err
    assert out.strip() == b"-1"
    assert "ImportError" in err and "sub-interpreters" in err


def test_calls_that_re_enter_the_store_are_refused(store):
    import collections.abc

    seen = []

    class Reentrant(collections.abc.Mapping):
        def __init__(self, call):
            self.call = call

        def __getitem__(self, key):
            return 1

        def __iter__(self):
            return iter(["a"])

        def __len__(self):
            return 1

        def keys(self):
            try:
                self.call()
            except RuntimeError as error:
                seen.append(str(error))
            return ["a"]

    store.insert("c", {"m": Reentrant(lambda: store.find("c"))})
    store.insert("c", {"m": Reentrant(store.collections)})
    assert seen == ["Already borrowed", "Already mutably borrowed"]
    assert store.find("c") == [{"m": {"a": 1}}, {"m": {"a": 1}}]
