"""Deterministic benchmark documents: about 200 bytes of JSON each, shaped like user records."""
import random

SEED = 20240607
# A hundred cities: an equality on address.city matches about 1 % of the documents.
CITIES = [
    "Lyon", "Oslo", "Porto", "Quito", "Turin", "Kyoto", "Perth", "Dakar", "Lima", "Riga",
    "Accra", "Adelaide", "Algiers", "Amman", "Ankara", "Athens", "Austin", "Baku", "Bergen", "Bern",
    "Bilbao", "Bogota", "Bonn", "Boston", "Brno", "Cairo", "Calgary", "Cork", "Cusco", "Delft",
    "Denver", "Dijon", "Doha", "Dublin", "Durban", "Essen", "Faro", "Fes", "Gdansk", "Genoa",
    "Ghent", "Graz", "Hanoi", "Havana", "Hue", "Izmir", "Jaipur", "Kazan", "Kiev", "Kochi",
    "Krakow", "Lagos", "Leeds", "Leipzig", "Lille", "Linz", "Lisbon", "Lodz", "Luxor", "Madrid",
    "Malmo", "Malaga", "Manila", "Milan", "Minsk", "Mumbai", "Munich", "Nantes", "Naples", "Nice",
    "Nis", "Osaka", "Oulu", "Padua", "Paris", "Pisa", "Prague", "Pune", "Rabat", "Reims",
    "Rome", "Salta", "Seoul", "Seville", "Sofia", "Split", "Tampa", "Tartu", "Tokyo", "Toledo",
    "Tunis", "Turku", "Utrecht", "Vaasa", "Varna", "Venice", "Vigo", "Vilnius", "Warsaw", "Zagreb",
]
_TAGS = ["new", "vip", "trial", "beta", "staff", "gold", "eu", "us", "mobile", "web"]


def iter_documents(count, seed=SEED):
    """Yields `count` new dicts; the same count and seed always give the same documents."""
    rng = random.Random(seed)
    for i in range(count):
        yield {
            "id": i,
            "name": "user%06d" % rng.randrange(1_000_000),
            "age": rng.randint(18, 90),
            # Uniform on [0, 100): the selective query `score >= 99` matches about 1 %.
            "score": round(rng.uniform(0.0, 100.0), 3),
            "active": rng.random() < 0.7,
            "visits": rng.randrange(10_000),
            "address": {
                "city": rng.choice(CITIES),
                "zip": "%05d" % rng.randrange(100_000),
                "geo": {"lat": round(rng.uniform(-90, 90), 5), "lon": round(rng.uniform(-180, 180), 5)},
            },
            "tags": rng.sample(_TAGS, 3),
        }


def make_documents(count, seed=SEED):
    """Returns the documents of `iter_documents` as one list."""
    return list(iter_documents(count, seed))
