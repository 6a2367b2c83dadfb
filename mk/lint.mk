# Lint and format, with the tools installed by the targets themselves:
#   make lint     clang-format in check mode over the C++ sources, clang-tidy over src/ and
#                 tests/cpp, ruff check over the Python files; changes no file, fails on a finding
#   make format   applies clang-format and ruff's safe fixes (import order, unused imports)
.PHONY: lint lint-format lint-tidy lint-python format lint-tools

# One LLVM version for both tools, the one the fuzz build uses: another version formats differently.
LINT_LLVM := 16
CLANG_FORMAT := clang-format-$(LINT_LLVM)
RUN_CLANG_TIDY := run-clang-tidy-$(LINT_LLVM)
LINT_BUILD := build/lint
LINT_CXX_FILES = $(shell find src tests/cpp fuzz -name '*.cc' -o -name '*.h')
# ruff is pinned in mk/tools-requirements.txt and lives in the tools venv (mk/package.mk).
RUFF = RUFF_CACHE_DIR=build/ruff-cache $(TOOLS_VENV)/bin/ruff

lint: lint-format lint-python lint-tidy

lint-tools:
	@command -v $(CLANG_FORMAT) >/dev/null 2>&1 && command -v $(RUN_CLANG_TIDY) >/dev/null 2>&1 || \
	  (apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y \
	    clang-format-$(LINT_LLVM) clang-tidy-$(LINT_LLVM))
	@# The tools venv is defined in a file read after this one, so it is made by name here.
	@$(MAKE) -s --no-print-directory $(TOOLS_VENV)/.ready

lint-format: lint-tools
	@echo "$(CLANG_FORMAT) --dry-run --Werror <the C++ files of src, tests/cpp and fuzz>"
	@$(CLANG_FORMAT) --dry-run --Werror $(LINT_CXX_FILES)

lint-python: lint-tools
	$(RUFF) check .

# The compile database of a configure-only tree: the module (with CPython's include path) and the
# C++ tests (with gtest's). A debug configuration, so that the checks see the bodies of asserts.
lint-tidy: lint-tools gtest venv
	cmake -S . -B $(LINT_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	  -DZARVEL_BUILD_TESTS=ON -DPython_EXECUTABLE=$(abspath $(VPY)) \
	  -DPython_ROOT_DIR=$(abspath $(VENV)) >/dev/null
	@# Each file's count of the warnings suppressed in headers that are not ours is dropped.
	@echo "$(RUN_CLANG_TIDY) -p $(LINT_BUILD) -j2 -quiet"
	@{ $(RUN_CLANG_TIDY) -p $(LINT_BUILD) -j2 -quiet 2>&1; echo $$? >$(LINT_BUILD)/tidy-status; } | \
	  grep -v '^[0-9]* warnings\? generated\.$$'; exit $$(cat $(LINT_BUILD)/tidy-status)

format: lint-tools
	@echo "$(CLANG_FORMAT) -i <the C++ files of src, tests/cpp and fuzz>"
	@$(CLANG_FORMAT) -i $(LINT_CXX_FILES)
	$(RUFF) check --fix .
