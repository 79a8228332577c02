# Thin wrapper over the CMake presets. `make test` is what CI runs.
JOBS ?= $(shell nproc)

.PHONY: all dev test tsan demo bench board board-check fuzz format format-check install clean

all: dev

dev:
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

# The firmware cross-build and the fuzz targets, then the whole suite under ASan/UBSan,
# then the threaded programs' tests under TSan.
test: format-check dev tsan board-check fuzz
	ctest --preset dev --no-tests=error
	ctest --preset tsan --no-tests=error

# Builds only what the demo needs (no GoogleTest), then runs it (about a minute); fails
# when the demo did not see the restart it promises.
demo:
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS) --target kv_demo
	./build/dev/sim/kv_demo

# The benchmark and the stand-ins it runs against; the suite is not needed for it.
bench:
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target kv_bench
	./build/release/bin/kv_bench

board:
	cmake --preset board
	cmake --build --preset board -j $(JOBS)

# The firmware must build (record layouts proven on the 32-bit board too) and start
# under qemu-arm; skipped, and said so, where the cross compiler is not installed, except
# under CI (CI=true), where the firmware must never land untested.
board-check:
	@if command -v arm-linux-gnueabi-g++ >/dev/null && command -v qemu-arm >/dev/null; then \
	  cmake --preset board >/dev/null && cmake --build --preset board -j $(JOBS) && \
	  ./tests/board_smoke.sh build/board; \
	else \
	  echo "board build skipped: arm-linux-gnueabi-g++ or qemu-arm not installed"; \
	  if [ "$$CI" = true ]; then echo "CI: the board build must run"; exit 1; fi; \
	fi

# The parsers of outside input under libFuzzer, FUZZ_SECONDS each (a short run for CI);
# skipped, and said so, where clang's libFuzzer is not installed, except under CI.
FUZZ_SECONDS ?= 20
fuzz:
	@mkdir -p build; if echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' | \
	    clang++ -x c++ -fsanitize=fuzzer - -o build/fuzz-probe 2>/dev/null; then \
	  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j $(JOBS) --target kv_fuzz && \
	  ./fuzz/run.sh build/fuzz $(FUZZ_SECONDS); \
	else \
	  echo "fuzz targets skipped: clang++ with libFuzzer (clang, libclang-rt-14-dev) not installed"; \
	  if [ "$$CI" = true ]; then echo "CI: the fuzz targets must run"; exit 1; fi; \
	fi

# Every C and C++ source of the project in the style of .clang-format: `make format`
# applies it, `make test` refuses a tree that does not follow it.
FORMAT_FILES = $(shell git ls-files '*.c' '*.cpp' '*.h' '*.hpp' '*.inc' 2>/dev/null)
format:
	clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "format: every source follows .clang-format"

install: dev
	cmake --install build/dev --prefix $(or $(PREFIX),build/stage)

clean:
	rm -rf build
