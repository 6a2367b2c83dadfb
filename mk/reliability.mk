# Sanitizers and fuzzing. Both use their own build directories and never touch the installed module.
#   make fuzz [FUZZ_SECONDS=600]  both fuzz targets at once, each for FUZZ_SECONDS (one per core)
#   make fuzz-smoke               the same for 60 seconds (CI)
#   make fuzz-corpus              keeps the small new inputs of the last runs in fuzz/corpus
#   make test-asan                C++ and Python tests against an ASan+UBSan build
.PHONY: test-asan fuzz fuzz-smoke fuzz-build fuzz-corpus fuzz-clang

FUZZ_SECONDS ?= 600
FUZZ_BUILD := build/fuzz
FUZZ_SCRATCH := build/fuzz-runs
FUZZ_SEEDS := tests/data/json-test-suite/test_parsing
# Debian's default clang (14) cannot compile std::source_location with this libstdc++; 16 can.
FUZZ_CXX := clang++-16

fuzz-clang:
	@command -v $(FUZZ_CXX) >/dev/null 2>&1 && dpkg -s libclang-rt-16-dev >/dev/null 2>&1 || \
	  (apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y clang-16 libclang-rt-16-dev)

fuzz-build: fuzz-clang venv
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DZARVEL_WERROR=$(ZARVEL_WERROR)
	cmake --build $(FUZZ_BUILD) -j2

fuzz: fuzz-build
	fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_SCRATCH) $(FUZZ_SEEDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=60

# Keeps the small inputs of the last runs that reach code the seeds miss: the files fuzz/corpus
# gains are the ones to commit.
fuzz-corpus: fuzz-build
	fuzz/keep_corpus.sh $(FUZZ_BUILD) $(FUZZ_SCRATCH) $(FUZZ_SEEDS)

# The module and the C++ unit tests, built with AddressSanitizer and UndefinedBehaviorSanitizer in
# their own build directory. The interpreter is not built with the sanitizer, so its runtimes are
# preloaded. Both runs check leaks. In the Python run the interpreter allocates with malloc
# (PYTHONMALLOC=malloc), so the leak checker traces module memory held by Python objects instead of
# losing it in the interpreter's arenas, and fuzz/python_leaks.supp drops what the interpreter's
# own allocators leave at exit: the module's own allocations stay checked, and reference leaks are
# caught by the tests that count references. The tests that measure resident memory run on their
# own with the quarantine of freed blocks (up to 256 MB, which would read as growth) off.
ASAN_BUILD := build/asan
SANITIZE := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
SANITIZER_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)
SANITIZER_ENV = UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# $(call asan_python,ASAN_OPTIONS): the interpreter with the sanitized module first on its path.
# Tests read their children's standard error, so the leak checker reports nothing but leaks.
asan_python = env $(SANITIZER_ENV) ASAN_OPTIONS=$(1) PYTHONMALLOC=malloc \
  LSAN_OPTIONS=suppressions=$(abspath fuzz/python_leaks.supp):print_suppressions=0 \
  LD_PRELOAD="$(SANITIZER_PRELOAD)" PYTHONPATH=$(abspath $(ASAN_BUILD)) $(VPY)
ASAN_MEMORY_TESTS := tests/python/test_soak.py::test_mixed_operations_keep_memory_flat_and_references_balanced \
  tests/python/test_find_update.py::test_cached_answers_do_not_copy_the_documents

test-asan: gtest venv
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVEL_BUILD_TESTS=ON \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" -DZARVEL_WERROR=$(ZARVEL_WERROR) \
	  -DPython_EXECUTABLE=$(abspath $(VPY)) -DPython_ROOT_DIR=$(abspath $(VENV))
	cmake --build $(ASAN_BUILD) -j2
	$(SANITIZER_ENV) ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 $(ASAN_BUILD)/zarvel_tests
	@# The tests must import this build, not an installed module.
	$(call asan_python,detect_leaks=1) -c 'import sys, zarvel; sys.exit(not zarvel.__file__.startswith(sys.argv[1]))' \
	  $(abspath $(ASAN_BUILD))
	$(call asan_python,detect_leaks=1) -m pytest -q -p no:cacheprovider tests/python \
	  $(addprefix --deselect ,$(ASAN_MEMORY_TESTS))
	$(call asan_python,detect_leaks=1:quarantine_size_mb=0) -m pytest -q -p no:cacheprovider \
	  $(ASAN_MEMORY_TESTS)
