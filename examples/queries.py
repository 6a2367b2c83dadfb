"""Queries and updates on a small shop: equality, dotted paths, ranges, arrays, updates selected
by a query, and the rules that matter (first key of a nested dict, 1 versus 1.0, no new fields)."""
import contextlib
import os
import sys
import tempfile
from collections.abc import Iterator
from typing import Any

import zarvel


@contextlib.contextmanager
def quiet_traces() -> Iterator[None]:
    """update writes two trace lines per condition to file descriptor 1; send them elsewhere."""
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 1)
        try:
            yield
        finally:
            os.dup2(saved, 1)
            os.close(saved)


def titles(documents: list[dict[str, Any]]) -> list[str]:
    return [str(d["name"]) for d in documents]


PRODUCTS: list[dict[str, Any]] = [
    {"name": "kettle", "price": 25, "stock": 4, "tags": ["kitchen"], "maker": {"country": "DE"}},
    {"name": "toaster", "price": 40.0, "stock": 0, "tags": ["kitchen", "sale"], "maker": {"country": "FR"}},
    {"name": "lamp", "price": 15.5, "stock": 12, "tags": ["home"], "maker": {"country": "DE"}},
    {"name": "rug", "price": 90, "stock": 1, "tags": ["home", "sale"]},
]

with tempfile.TemporaryDirectory() as parent:
    shop = zarvel.Zarvel(os.path.join(parent, "shop"))
    shop.insert_many("products", PRODUCTS)

    print("made in DE:", titles(shop.find("products", {"maker.country": "DE"})))
    print("in stock, under 30:", titles(shop.find("products", {"stock": {"$gt": 0}, "price": {"$lt": 30}})))
    # Only the first key of a nested dict counts, so a range takes a second top-level key.
    print("20 to 50:", titles(shop.find("products", {"price": {"$gte": 20}, "price.$lte": 50})))
    # An array matches an equal array only.
    print("tagged exactly kitchen+sale:", titles(shop.find("products", {"tags": {"$eq": ["kitchen", "sale"]}})))
    # 40 and 40.0 are different values for equality; ordering compares numbers.
    assert shop.find("products", {"price": 40}) == []
    assert titles(shop.find("products", {"price": 40.0})) == ["toaster"]
    # A document without the field never matches, not even $ne.
    assert "rug" not in titles(shop.find("products", {"maker.country": {"$ne": "DE"}}))

    with quiet_traces():
        # Selected by a query: 4 off the toaster's price.
        shop.update("products", {"price": {"$substract": 4}}, {"name": "toaster"})
        # $inc always steps by exactly 1 and makes the number a float.
        shop.update("products", {"stock": {"$inc": 1}}, {"stock": 0})
        # No field is ever created: "discount" stays absent, and the rug gets no maker.
        shop.update("products", {"discount": 5})
        # $set replaces a whole dict; {"maker": {"country": "IT"}} would set maker.country only.
        after = shop.update("products", {"maker": {"$set": {"country": "IT", "city": "Como"}}}, None, True)

    toaster = shop.find("products", {"name": "toaster"})[0]
    print("toaster now:", toaster["price"], "in stock:", toaster["stock"])
    assert toaster["price"] == 36.0 and toaster["stock"] == 1.0 and type(toaster["stock"]) is float
    assert all("discount" not in p for p in after) and "maker" not in after[3]
    print("lamp made in:", after[2]["maker"])

    # A failing query raises; ordering operators need numbers.
    try:
        shop.find("products", {"name": {"$gt": 3}})
    except ValueError as error:
        print("error:", error)

    shop.write("products")
    print("written:", sorted(os.listdir(os.path.join(parent, "shop"))))
