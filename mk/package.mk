# Packaging checks, each from a venv of its own so that neither the tools nor the package under
# test can leak in from .venv or the source tree:
#   make test-wheel   builds the sdist and, from it, the wheel; installs the wheel into a fresh venv
#                     and runs every example against it from a directory outside the tree.
#   make check-types  stubtest compares zarvel.pyi with the installed module; mypy checks examples/.
.PHONY: dist test-wheel check-types

TOOLS_VENV := build/tools-venv
TOOLS_PY := $(TOOLS_VENV)/bin/python
DIST := build/dist
WHEEL_VENV := build/wheel-venv
# What a wheel must hold besides its metadata.
WHEEL_FILES := zarvel.pyi zarvel-stubs/__init__.pyi
# What an sdist must hold to build and to be worth unpacking.
SDIST_FILES := pyproject.toml CMakeLists.txt README.md src/binding/exports.map \
  src/binding/zarvel.pyi src/binding/module.cc src/lib/store.cc src/value/value.h \
  examples/quickstart.py docs/query-language.md docs/file-format.md

$(TOOLS_VENV)/.ready: mk/tools-requirements.txt
	$(PYTHON) -m venv $(TOOLS_VENV)
	$(TOOLS_PY) -m pip install --quiet --upgrade pip
	$(TOOLS_PY) -m pip install --quiet -r mk/tools-requirements.txt
	touch $@

# `python -m build` makes the sdist, then builds the wheel from the unpacked sdist: a file missing
# from the sdist fails here.
dist: $(TOOLS_VENV)/.ready
	rm -rf $(DIST)
	$(TOOLS_PY) -m build -C cmake.define.ZARVEL_WERROR=$(ZARVEL_WERROR) --outdir $(DIST) .
	@$(TOOLS_PY) -c 'import sys, tarfile, zipfile, glob; \
	  sdist = {n.split("/", 1)[-1] for n in tarfile.open(glob.glob("$(DIST)/*.tar.gz")[0]).getnames()}; \
	  wheel = set(zipfile.ZipFile(glob.glob("$(DIST)/*.whl")[0]).namelist()); \
	  missing = [f for f in "$(SDIST_FILES)".split() if f not in sdist]; \
	  missing += [f for f in "$(WHEEL_FILES)".split() if f not in wheel]; \
	  missing += [] if any(n.startswith("zarvel.") and n.endswith(".so") for n in wheel) else ["zarvel*.so"]; \
	  sys.exit("missing from the distributions: " + " ".join(missing) if missing else 0)'

test-wheel: dist
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet $(DIST)/*.whl
	@set -e; root=$$(pwd); away=$$(mktemp -d); trap 'rm -rf "$$away"' EXIT; cd "$$away"; \
	  env -u PYTHONPATH "$$root/$(WHEEL_VENV)/bin/python" -c 'import sys, zarvel; \
	    assert zarvel.__file__.startswith(sys.prefix), zarvel.__file__; print("zarvel from", zarvel.__file__)'; \
	  for example in "$$root"/examples/*.py; do \
	    echo "== $$example"; env -u PYTHONPATH "$$root/$(WHEEL_VENV)/bin/python" "$$example"; \
	  done; \
	  test -z "$$(ls -A)" || { echo "examples left files behind: $$(ls -A)"; exit 1; }

# Both checks read the stub as the wheel installs it (zarvel-stubs/__init__.pyi, which mypy finds
# in site-packages; the lone zarvel.pyi beside the module is for other tools). They run outside
# the tree, so stubtest imports the module installed from the wheel.
check-types: dist
	$(TOOLS_PY) -m pip install --quiet --force-reinstall --no-deps $(DIST)/*.whl
	@set -e; root=$$(pwd); away=$$(mktemp -d); trap 'rm -rf "$$away"' EXIT; cd "$$away"; \
	  unset PYTHONPATH; \
	  echo "stubtest zarvel"; "$$root/$(TOOLS_PY)" -m mypy.stubtest zarvel; \
	  echo "mypy --strict examples/"; "$$root/$(TOOLS_PY)" -m mypy --strict --no-incremental "$$root/examples"
