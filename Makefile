# SPDX-License-Identifier: MIT
# Thin wrapper over the CMake presets. `make test` is what CI runs.
JOBS ?= $(shell nproc)

.PHONY: all dev test tsan demo bench release kv_export docs package ship-check board board-check \
  board-test fuzz format format-check install clean

all: dev

dev:
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

# The firmware cross-build, the suites on the board's processor and the fuzz targets,
# then the whole suite under ASan/UBSan (with the cross-architecture tests, which need
# the board-test build), then the threaded programs' tests under TSan.
#
# Meanwhile, at a lower priority, the checks of what integrators and distributions build
# (ship-check). They start as soon as the firmware is built (the cross check compares
# against it): the suites under qemu-arm, the fuzz targets (one processor each) and the
# system's own waits in the suites leave processors free for them. Their report follows
# the suites'.
test: format-check dev tsan board-check
	@nice -n 10 $(MAKE) --no-print-directory ship-check >build/ship-check.log 2>&1 & ship=$$!; \
	$(MAKE) --no-print-directory board-test fuzz; early=$$?; dev=1; tsan=1; \
	if [ $$early -eq 0 ]; then \
	  ctest --preset dev --no-tests=error; dev=$$?; \
	  ctest --preset tsan --no-tests=error; tsan=$$?; \
	fi; \
	wait $$ship; shipped=$$?; cat build/ship-check.log; \
	[ $$early -eq 0 ] && [ $$dev -eq 0 ] && [ $$tsan -eq 0 ] && [ $$shipped -eq 0 ]

# Builds only what the demo needs (no GoogleTest): the programs it runs, the stand-ins and
# kv_export; then runs it (about 75 s); fails when the demo did not see
# everything it promises.
demo:
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS) --target kv_demo
	./build/dev/sim/kv_demo

# The optimised build as a distribution makes it: with Debian's hardening flags
# (dpkg-buildflags: -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat
# -Werror=format-security -Wl,-z,relro, where dpkg-dev is installed) under the release
# preset's -O3; every warning fatal. Without -g: the packages are stripped, and no debug
# symbols are packaged.
RELEASE_CONFIGURE = if command -v dpkg-buildflags >/dev/null; then \
	  eval "$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"; \
	  CFLAGS=$$(echo " $$CFLAGS " | sed 's/ -g / /'); CXXFLAGS=$$(echo " $$CXXFLAGS " | sed 's/ -g / /'); \
	fi; \
	cmake --preset release -DCMAKE_C_FLAGS="$${CFLAGS:-} $${CPPFLAGS:-}" \
	  -DCMAKE_CXX_FLAGS="$${CXXFLAGS:-} $${CPPFLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="$${LDFLAGS:-}" >/dev/null
release:
	@$(RELEASE_CONFIGURE)
	cmake --build --preset release -j $(JOBS)

# Just kv_export, optimised: build/release/bin/kv_export (or the kv-export package).
kv_export:
	@$(RELEASE_CONFIGURE)
	cmake --build --preset release -j $(JOBS) --target kv_export

# The reference of the library's public C headers: build/release/docs/html/index.html.
# Fails when a public function is not documented.
docs:
	@$(RELEASE_CONFIGURE)
	cmake --build --preset release --target docs

# The packages: kv-export and libkvinterface-dev (Debian, from the release build) in
# build/release/packages/, and the firmware archive for a board image (from the board
# build) in build/board/packages/.
package: release docs
	cd build/release && cpack -G DEB
	@if command -v arm-linux-gnueabi-g++ >/dev/null; then \
	  cmake --preset board >/dev/null && cmake --build --preset board -j $(JOBS) && \
	  cd build/board && cpack; \
	else echo "firmware archive skipped: arm-linux-gnueabi-g++ not installed"; fi

# What integrators and distributions do, checked (make test runs it): the optimised,
# hardened build of all that ships or runs on the workstation (the test programs are
# built optimised for the board and under TSan already) and the manual pages, the
# reference, clang on every translation unit, an outside toolchain file's cross build
# against the board preset's, and the packages. Each step says how long it took.
ship-check:
	@mkdir -p build/ship
	@start=$$(date +%s); $(MAKE) --no-print-directory release >build/ship/release.log 2>&1 || \
	  { tail -50 build/ship/release.log; exit 1; }; \
	echo "release: the optimised, hardened build of the programs, library, exporter, sandbox and benchmarks, warning-free, with the manual pages ($$(( $$(date +%s) - start )) s)"
	@start=$$(date +%s); $(MAKE) --no-print-directory docs >build/ship/docs.log 2>&1 || \
	  { cat build/ship/docs.log; exit 1; }; \
	echo "docs: every public function documented ($$(( $$(date +%s) - start )) s)"
	@start=$$(date +%s); if command -v clang++ >/dev/null; then \
	  ./tests/ship_check.sh clang build/dev; \
	elif [ "$$CI" = true ]; then echo "clang++ not installed (required in CI)"; exit 1; \
	else echo "clang check skipped: clang++ not installed"; fi; \
	echo "  ($$(( $$(date +%s) - start )) s)"
	@start=$$(date +%s); if command -v arm-linux-gnueabi-g++ >/dev/null && [ -d build/board ]; then \
	  ./tests/ship_check.sh cross build/board build/ship/cross; \
	elif [ "$$CI" = true ]; then echo "the cross check needs the board build (required in CI)"; exit 1; \
	else echo "cross check skipped: no cross compiler or board build"; fi; \
	echo "  ($$(( $$(date +%s) - start )) s)"
	@start=$$(date +%s); ./tests/ship_check.sh packages build/release build/board build/ship/packages; \
	echo "  ($$(( $$(date +%s) - start )) s)"

# The benchmarks and what they run against; the suite is not needed for them.
bench:
	@$(RELEASE_CONFIGURE)
	cmake --build --preset release -j $(JOBS) --target kv_bench kv_export_bench nmea_bench
	./build/release/bin/kv_bench
	./build/release/bin/kv_export_bench
	./bench/nmea_bench.sh build/release

# The firmware, and what each program's bytes are spent on (cmake/footprint.sh).
board:
	cmake --preset board
	cmake --build --preset board -j $(JOBS)
	./cmake/footprint.sh build/board

# The firmware must build (record layouts proven on the 32-bit board too), start under
# qemu-arm and keep every program within its 150 KB (the whole report when one is over);
# skipped, and said so, where the cross compiler is not installed, except under CI
# (CI=true), where the firmware must never land untested.
board-check:
	@if command -v arm-linux-gnueabi-g++ >/dev/null && command -v qemu-arm >/dev/null; then \
	  cmake --preset board >/dev/null && cmake --build --preset board -j $(JOBS) && \
	  ./tests/board_smoke.sh build/board && \
	  if ./cmake/footprint.sh build/board >build/board/footprint.txt; then \
	    grep stripped build/board/footprint.txt; \
	  else cat build/board/footprint.txt; exit 1; fi; \
	else \
	  echo "board build skipped: arm-linux-gnueabi-g++ or qemu-arm not installed"; \
	  if [ "$$CI" = true ]; then echo "CI: the board build must run"; exit 1; fi; \
	fi

# The suites on the board's processor: the library, the programs, the stand-ins and the
# tests built for the ARM926 with the board root compiled in, run under qemu-arm. Test
# files that say "board-test: host only" (the long scenarios) run on the workstation
# only. Skipped, and said so, where the cross compiler or qemu-arm is missing; in CI
# (CI=true) that is an error.
board-test:
	@if command -v arm-linux-gnueabi-g++ >/dev/null && command -v qemu-arm >/dev/null && \
	    [ -d /usr/src/googletest ]; then \
	  cmake --preset board-test >/dev/null && cmake --build --preset board-test -j $(JOBS) && \
	  ctest --preset board-test; \
	elif [ "$$CI" = true ]; then \
	  echo "board-test: arm-linux-gnueabi-g++, qemu-arm or /usr/src/googletest missing (required in CI)"; exit 1; \
	else \
	  echo "board-test skipped: arm-linux-gnueabi-g++, qemu-arm or the googletest sources not installed"; \
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
