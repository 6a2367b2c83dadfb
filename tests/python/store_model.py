"""A plain-Python reference for what find, count and delete answer: the whole query language, the
sort order and projection."""

import re

from conftest import normalised

MISSING = object()
ORDERING = {
    "$gt": ("GreaterThan", lambda d, q: d > q),
    "$gte": ("GreaterThanEqual", lambda d, q: d >= q),
    "$lt": ("LessThan", lambda d, q: d < q),
    "$lte": ("LessThanEqual", lambda d, q: d <= q),
}


class NonNumeric(ValueError):
    """An ordering operator met a non-number; its argument is the operator's name."""


def key_order(mapping):
    return sorted(mapping, key=lambda k: k.encode())


def same(a, b):
    """Value equality of stored documents: kinds and int/float stay apart, containers compare deeply."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b, strict=True))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def is_number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def resolve(document, path):
    current = document
    for segment in path:
        if not isinstance(current, dict) or segment not in current:
            return MISSING
        current = current[segment]
    return current


def conditions(query):
    """The query as ("path", segments, keyword, operand, holder) and ("logical", keyword, [queries])."""
    out = []

    def walk(path, value):
        if isinstance(value, dict):
            for key in key_order(value):
                if key.startswith("$"):
                    out.append(("path", path, key, value[key], value))
                else:
                    walk(path + key.split("."), value[key])
        elif path[-1].startswith("$"):
            out.append(("path", path[:-1], path[-1], value, None))
        else:
            out.append(("path", path, "$eq", value, None))

    for key in key_order(query):
        if key in ("$and", "$or", "$nor") and isinstance(query[key], list):
            out.append(("logical", key, [conditions(q) for q in query[key]]))
        else:
            walk(key.split("."), query[key])
    return out


def matches_conditions(conds, document):
    for cond in conds:
        if cond[0] == "logical":
            _, keyword, branches = cond
            if keyword == "$and":
                held = all(matches_conditions(b, document) for b in branches)
            elif keyword == "$or":
                held = any(matches_conditions(b, document) for b in branches)
            else:
                held = not any(matches_conditions(b, document) for b in branches)
        else:
            _, path, keyword, operand, holder = cond
            held = holds(keyword, operand, holder, resolve(document, path))
        if not held:
            return False
    return True


def holds(keyword, operand, holder, d):
    present = d is not MISSING
    if keyword == "$eq":
        return present and same(d, operand)
    if keyword == "$ne":
        return present and not same(d, operand)
    if keyword in ORDERING:
        if not present:
            return False
        name, compare = ORDERING[keyword]
        if not is_number(d) or not is_number(operand):
            raise NonNumeric(name)
        return compare(float(d), float(operand))
    if keyword == "$in":
        return present and any(same(d, x) for x in operand)
    if keyword == "$nin":
        return present and not any(same(d, x) for x in operand)
    if keyword == "$exists":
        return present == operand
    if keyword == "$not":
        return not all(holds(k, operand[k], operand, d) for k in key_order(operand))
    if keyword == "$options":
        return True
    if keyword == "$regex":
        flags = sum(getattr(re, letter.upper()) for letter in (holder or {}).get("$options", ""))
        return isinstance(d, str) and re.search(operand, d, flags) is not None
    if keyword == "$size":
        return isinstance(d, list) and len(d) == operand
    if keyword == "$all":
        return isinstance(d, list) and all(any(same(e, x) for e in d) for x in operand)
    if keyword == "$elemMatch":
        if not isinstance(d, list):
            return False
        if all(k.startswith("$") and k not in ("$and", "$or", "$nor") for k in operand):
            return any(all(holds(k, operand[k], operand, e) for k in key_order(operand)) for e in d)
        sub = conditions(operand)
        return any(isinstance(e, dict) and matches_conditions(sub, e) for e in d)
    raise AssertionError(keyword)


def value_at(document, path):
    """The value at a dotted path, or MISSING; paths never enter lists."""
    return resolve(document, path.split("."))


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


def matches(document, query):
    """Whether `document` matches `query`; raises NonNumeric (a ValueError) where the store would."""
    return isinstance(document, dict) and matches_conditions(conditions(query), document)
