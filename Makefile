# Two commands do all the set-up: `make run` and `make test`.

# The CPython versions that wheels are built for and CI tests on; the first is the default.
PYTHON_VERSIONS := 3.12 3.13
# $(call find_python,3.13): the path of a python3.13 that actually runs (a pyenv shim may exist and
# fail), or nothing. The interpreter a venv was made from, never the venv's own: the PATH of a
# recursive make starts with a venv.
find_python = $(shell for p in python$(1) $$HOME/.pyenv/versions/$(1).*/bin/python$(1); do \
  if $$p -c 'import sys; print(sys._base_executable)' 2>/dev/null; then break; fi; done)
# $(call required_python,3.13): the same, or make stops.
required_python = $(or $(call find_python,$(1)),$(error no runnable python$(1); pyenv install $(1) gives one))
ifeq ($(origin PYTHON), undefined)
PYTHON := $(or $(call find_python,$(firstword $(PYTHON_VERSIONS))),python3)
endif
# One venv per version, so that `make test PYTHON=...` on another version rebuilds nothing of this
# one's.
PYTHON_VERSION := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
VENV := .venv-$(PYTHON_VERSION)
# cmake, ninja and ctest come from the virtual environment.
export PATH := $(abspath $(VENV))/bin:$(PATH)
VPY := $(VENV)/bin/python
# Builds that CMake drives through pip (the module, the wheels) use two cores too, not Ninja's four.
export CMAKE_BUILD_PARALLEL_LEVEL := 2
CPP_BUILD := build/cpp
# ON fails every build (module, C++ tests, sanitizers, fuzzers) on a compiler warning; CI sets it
# in its environment.
ZARVEL_WERROR ?= OFF

.PHONY: run test test-cpp test-python test-each-python python-path install venv gtest clean bench

run: install
	$(VPY) examples/quickstart.py

test: test-cpp test-python

# The path of the interpreter of version V: `make -s python-path V=3.13`.
python-path:
	@echo $(call required_python,$(V))

# `make test` on every supported version, each in its own venv.
test-each-python:
	set -e; for python in $(foreach v,$(PYTHON_VERSIONS),$(call required_python,$(v))); do \
	  $(MAKE) --no-print-directory test PYTHON=$$python; done

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
	rm -rf build dist .venv-*

# Further targets (fuzzing, sanitizers, packaging) live in their own files.
include $(wildcard mk/*.mk)
