"""A plain-Python reference for what find, count and delete answer: the sort order, projection and
the matching of simple queries (equality, $ne and the ordering operators on dotted paths)."""
from conftest import normalised

MISSING = object()


def value_at(document, path):
    """The value at a dotted path, or MISSING; paths never enter lists."""
    current = document
    for segment in path.split("."):
        if not isinstance(current, dict) or segment not in current:
            return MISSING
        current = current[segment]
    return current


def order_key(value):
    """Missing, None, numbers (exactly: Python compares int and float exactly), str by UTF-8 bytes,
    dicts (members by key bytes then value), lists, bools; sequences element by element."""
    if value is MISSING:
        return (0,)
    if value is None:
        return (1,)
    if isinstance(value, bool):
        return (6, value)
    if isinstance(value, (int, float)):
        return (2, value)
    if isinstance(value, str):
        return (3, value.encode())
    if isinstance(value, dict):
        return (4, [(k.encode(), order_key(value[k])) for k in sorted(value, key=str.encode)])
    return (5, [order_key(v) for v in value])


def sort_spec(sort):
    """The (path, direction) pairs of a sort option."""
    if sort is None:
        return []
    return [(sort, 1)] if isinstance(sort, str) else list(sort)


def sorted_documents(documents, sort):
    """Stable sort, the last key first; reverse=True keeps ties in their order, as it must."""
    result = list(documents)
    for path, direction in reversed(sort_spec(sort)):
        result.sort(key=lambda d, path=path: order_key(value_at(d, path)), reverse=direction == -1)
    return result


def project(document, paths):
    """The members named by `paths`, nested as in the document; a non-dict unchanged."""
    if not isinstance(document, dict):
        return document
    out = {}
    for path in paths:
        value = value_at(document, path)
        if value is MISSING:
            continue
        segments = path.split(".")
        target = out
        for segment in segments[:-1]:
            target = target.setdefault(segment, {})
        target[segments[-1]] = value
    return normalised(out)


def find(documents, matching=lambda d: True, sort=None, skip=0, limit=None, fields=None):
    """What find returns for documents already filtered by `matching`."""
    result = sorted_documents([d for d in documents if matching(d)], sort)[skip:]
    if limit is not None:
        result = result[:limit]
    return result if fields is None else [project(d, fields) for d in result]


def same(a, b):
    """The store's equality: same kind all the way down (1 and 1.0 differ, True and 1 differ)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b, strict=True))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def _number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


OPERATORS = {"$gt": float.__gt__, "$gte": float.__ge__, "$lt": float.__lt__, "$lte": float.__le__}


def matches(document, query):
    """Each top-level condition in key order: {path: scalar}, or {path: {op: operand}} with $eq,
    $ne or an ordering operator. Raises ValueError where the store would."""
    if not isinstance(document, dict):
        return False
    for path in sorted(query, key=str.encode):
        condition = query[path]
        op, operand = next(iter(condition.items())) if isinstance(condition, dict) else ("$eq", condition)
        value = value_at(document, path)
        if value is MISSING:
            return False
        if op == "$eq":
            ok = same(value, operand)
        elif op == "$ne":
            ok = not same(value, operand)
        else:
            if not _number(value) or not _number(operand):
                raise ValueError("non-numeric")
            ok = OPERATORS[op](float(value), float(operand))
        if not ok:
            return False
    return True

