# Sanitizers and fuzzing. Both use their own build directories and never touch the installed module.
.PHONY: test-asan fuzz fuzz-smoke clang

ASAN_BUILD := build/asan
SANITIZE := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
# The interpreter is not built with the sanitizer, so its runtime is preloaded.
SANITIZER_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

# The module and the C++ unit tests, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Leaks are checked in the C++ run, where every allocation is the library's own. In the Python
# run they are not: objects the interpreter still holds at exit keep module memory that the leak
# checker cannot trace (the interpreter's arenas are not scanned), so it would report them all;
# reference leaks there are caught by the tests that count references. The two tests that
# measure resident memory are deselected: the sanitizer's quarantine inflates it.
test-asan: gtest venv
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVEL_BUILD_TESTS=ON \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" \
	  -DPython_EXECUTABLE=$(abspath $(VPY)) -DPython_ROOT_DIR=$(abspath $(VENV))
	cmake --build $(ASAN_BUILD) -j2
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 $(ASAN_BUILD)/zarvel_tests
	ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD="$(SANITIZER_PRELOAD)" PYTHONPATH=$(abspath $(ASAN_BUILD)) \
	  $(VPY) -m pytest -q -p no:cacheprovider tests/python \
	  --deselect tests/python/test_conversion.py::test_no_reference_leaks_and_flat_memory \
	  --deselect tests/python/test_soak.py::test_mixed_operations_keep_memory_flat_and_references_balanced
