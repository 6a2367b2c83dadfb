# The long soak: a million mixed operations on one store (a few minutes); `make test` runs a short one.
.PHONY: soak

soak: install
	ZARVEL_SOAK_OPERATIONS=1000000 $(VPY) -m pytest -q tests/python/test_soak.py
