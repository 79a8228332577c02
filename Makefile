# Thin wrapper over the CMake presets. `make test` is what CI runs.
JOBS ?= $(shell nproc)

.PHONY: all dev test tsan demo bench board install clean

all: dev

dev:
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

# The whole suite under ASan/UBSan, then the threaded programs' tests under TSan.
test: dev tsan
	ctest --preset dev
	ctest --preset tsan

demo: dev
	./sim/demo.sh build/dev

# The benchmark and the stand-ins it runs against; the suite is not needed for it.
bench:
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target kv_bench
	./build/release/bin/kv_bench

board:
	cmake --preset board
	cmake --build --preset board -j $(JOBS)

install: dev
	cmake --install build/dev --prefix $(or $(PREFIX),build/stage)

clean:
	rm -rf build
