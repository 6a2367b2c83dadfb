# Two commands do all the set-up: `make run` and `make test`.

# A python3.12 that actually runs (a pyenv shim may exist and fail), else python3.
ifeq ($(origin PYTHON), undefined)
PYTHON := $(shell for p in python3.12 $$HOME/.pyenv/versions/3.12.*/bin/python3.12 python3; do \
            if $$p -c 'import sys' >/dev/null 2>&1; then echo $$p; break; fi; done)
endif
VENV := .venv
# cmake, ninja and ctest come from the virtual environment.
export PATH := $(abspath $(VENV))/bin:$(PATH)
VPY := $(VENV)/bin/python
CPP_BUILD := build/cpp
# ON fails every build (module, C++ tests, sanitizers, fuzzers) on a compiler warning; CI sets it
# in its environment.
ZARVEL_WERROR ?= OFF

.PHONY: run test test-cpp test-python install venv gtest clean bench

run: install
	$(VPY) examples/quickstart.py

test: test-cpp test-python

venv: $(VENV)/.ready

$(VENV)/.ready: pyproject.toml Makefile
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip
	$(VPY) -m pip install --quiet "scikit-build-core>=0.8" cmake ninja pytest numpy
	touch $@

# Built without isolation so that repeated builds reuse the build directory and need no download.
install: venv
	$(VPY) -m pip install --quiet --no-build-isolation -C cmake.define.ZARVEL_WERROR=$(ZARVEL_WERROR) .

gtest:
	@dpkg -s libgtest-dev >/dev/null 2>&1 || \
	  (apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y libgtest-dev)

test-cpp: gtest venv
	cmake -S . -B $(CPP_BUILD) -G Ninja -DZARVEL_BUILD_MODULE=OFF -DZARVEL_BUILD_TESTS=ON \
	  -DZARVEL_WERROR=$(ZARVEL_WERROR) -DPython_EXECUTABLE=$(abspath $(VPY))
	cmake --build $(CPP_BUILD) -j2
	cd $(CPP_BUILD) && ctest --output-on-failure --no-tests=error -j2

test-python: install
	$(VPY) -m pytest -q

# Optional: installs the peers it compares against; never part of `make test`.
bench: install
	$(VPY) -m pip install -q -r bench/requirements.txt
	$(VPY) bench/run.py

clean:
	rm -rf build $(VENV)

# Further targets (fuzzing, sanitizers, packaging) live in their own files.
include $(wildcard mk/*.mk)
