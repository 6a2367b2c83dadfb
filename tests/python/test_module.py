"""What Python sees of the module and the class: attributes, signatures, binding, the internal-failure
channel. Argument errors are in test_hostile_input.py."""
import gc
import weakref

import pytest

import zarvel
from conftest import PanicException, raises, run_python

METHODS = [
    ("load_from_document", "($self, document_path)"), ("create_collection", "($self, collection_name)"),
    ("insert", "($self, collection_name, document)"), ("insert_many", "($self, collection_name, documents)"),
    ("insert_many_from_document", "($self, collection_name, document_name)"),
    ("find", "($self, collection_name, maybe_query=None, *, sort=None, skip=0, limit=None, fields=None)"),
    ("update", "($self, collection_name, update_query, maybe_query=None, return_result=False)"),
    ("collections", "($self)"), ("drop_collection", "($self, collection_name)"), ("drop_all", "($self)"),
    ("write", "($self, collection_name)"), ("write_all", "($self)"), ("clear_cache", "($self)"),
    ("delete", "($self, collection_name, query)"), ("count", "($self, collection_name, maybe_query=None)"),
]


def test_module_exports_the_class_and_its_exception():
    # Internal failures raise a class of their own that `except Exception` does not catch.
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)
    assert (PanicException.__module__, PanicException.__name__) == ("zarvel", "PanicException")
    assert zarvel.__all__ == ["Zarvel", "PanicException"]
    own = {name for name in vars(zarvel) if not name.startswith("__")}
    assert own == {"Zarvel", "PanicException"}
    assert isinstance(zarvel.__doc__, str) and "\n" not in zarvel.__doc__.strip()


def test_class_properties(store):
    cls = zarvel.Zarvel
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", "Zarvel", "Zarvel")
    assert cls.__doc__ is None
    assert cls.__text_signature__ == "(name, *, trace=True)"
    assert repr(store).startswith("<builtins.Zarvel object at 0x")
    assert cls.__init__ is object.__init__
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        store.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(store)
    assert not gc.is_tracked(store)


def test_method_table_order_and_signatures():
    names = [name for name, value in vars(zarvel.Zarvel).items() if callable(value) and not name.startswith("_")]
    assert names == [name for name, _ in METHODS]
    for name, signature in METHODS:
        method = getattr(zarvel.Zarvel, name)
        assert method.__text_signature__ == signature, name
        assert method.__doc__ is None, name


def test_keywords_and_defaults_bind(store_dir):
    store = zarvel.Zarvel(name=str(store_dir))
    store.create_collection(collection_name="c")
    store.drop_collection(collection_name="c")
    assert store.collections() == []


def test_numpy_booleans_are_accepted_for_return_result(store):
    numpy = pytest.importorskip("numpy")
    # The flag is converted before the body runs; an unknown collection fails only after that.
    raises(TypeError, "argument 'return_result': 'int64' object cannot be converted to 'PyBool'",
           store.update, "c", {}, None, numpy.int64(1))
    for flag in (numpy.bool_(True), numpy.bool_(False)):
        with pytest.raises(BaseException) as info:
            store.update("missing", {}, None, flag)
        assert not isinstance(info.value, TypeError)


def test_internal_failure_writes_a_diagnostic_to_stderr(tmp_path):
    db = str(tmp_path / "db")
    code_rc, _, err = run_python(f"""import os, zarvel
z = zarvel.Zarvel({db!r}); os.rmdir({db!r})
for _ in range(2):
    try: z.drop_all()
    except BaseException: pass
""")
    assert code_rc == 0
    lines = err.splitlines()
    assert lines[0].startswith("thread '<unnamed>' panicked at src/")
    assert lines[1].startswith("called `Result::unwrap()` on an `Err` value: PyErr {")
    # The note comes with the first failure only.
    assert sum(line.startswith("thread '<unnamed>' panicked at") for line in lines) == 2
    assert len(lines) == 5


def test_module_is_created_once_and_refuses_sub_interpreters():
    rc, out, err = run_python("""import sys, zarvel, _testcapi
first = zarvel
del sys.modules['zarvel']
import zarvel
assert zarvel is first
print(_testcapi.run_in_subinterp('import zarvel'))
""")
    assert rc == 0, err
    assert out.strip() == b"-1"
    assert "ImportError" in err and "sub-interpreters" in err


@pytest.mark.parametrize("enabled", [True, False], ids=["collector-on", "collector-off"])
def test_results_leave_the_garbage_collector_as_they_found_it(store, enabled):
    store.insert_many("c", [{"a": [i], "b": {"c": i}} for i in range(3000)])
    was_enabled = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        for result in (store.find("c"), store.find("c", {"b.c": {"$lt": 10}}),
                       store.update("c", {"a": {"$set": 1}}, return_result=True)):
            assert gc.isenabled() == enabled
            assert len(result) in (3000, 10)
        # The new containers are still tracked, so cycles made from them later are collected.
        document = store.find("c")[0]
        assert gc.is_tracked(document)
    finally:
        gc.enable() if was_enabled else gc.disable()
