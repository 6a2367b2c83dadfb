"""Calls on one store from several threads take turns; only a call that re-enters the store from its
own thread is refused."""
import collections
import threading
import time

import pytest

from conftest import PanicException


class SlowDict(collections.UserDict):
    """A mapping whose conversion runs Python code that lets other threads run meanwhile."""

    def items(self):
        time.sleep(0.001)
        return super().items()


def run_threads(*bodies):
    failures = []

    def guarded(body):
        try:
            body()
        except BaseException as error:  # noqa: BLE001 - every failure is reported below
            failures.append(error)

    threads = [threading.Thread(target=guarded, args=(body,)) for body in bodies]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(thread.is_alive() for thread in threads), "a thread never got the store"
    assert failures == []


def test_threads_wait_for_a_store_in_use(store):
    rounds = 100

    def slow_inserts():
        for i in range(rounds):
            store.insert("c", {"slow": SlowDict(i=i)})

    def plain_calls():
        for i in range(rounds):
            store.insert("c", {"plain": i})
            store.find("c", {"plain": i})
            store.write("c")
            store.collections()

    run_threads(slow_inserts, plain_calls, plain_calls)
    documents = store.find("c")
    assert len(documents) == 3 * rounds
    assert sorted(d["slow"]["i"] for d in documents if "slow" in d) == list(range(rounds))


def test_a_call_from_the_same_thread_is_still_refused(store):
    class Reentering(collections.UserDict):
        def items(self):
            store.insert("c", {"inner": 1})
            return super().items()

    store.insert("c", {"first": 1})
    with pytest.raises(PanicException, match="Already borrowed"):
        store.insert("c", {"outer": Reentering(a=1)})
    assert store.find("c") == [{"first": 1}]
