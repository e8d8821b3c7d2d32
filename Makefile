# User entry points. Each target installs what is missing, configures and
# builds what it needs, then runs it.

JOBS      ?= $(shell nproc)
CMAKE_GEN := -G Ninja
DEPS      := bash scripts/install-deps.sh
# ctest: a generous per-test bound so a hung test fails instead of stalling.
CTEST_ARGS ?= --output-on-failure --timeout 600 -j $(JOBS)

.PHONY: all build demo test test-asan test-tsan bench fuzz clean

all: build

deps:
	@$(DEPS)

# The benchmarks and the fuzz targets (with the replay driver) are built with
# everything else, so that a change cannot break them unnoticed.
build: deps
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_BENCH=ON >/dev/null
	@cmake --build build -j $(JOBS)

demo: build
	@./build/apps/kzdemo $(ARGS)

test: build
	@cd build && ctest $(CTEST_ARGS)

test-asan: deps
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKZ_SANITIZE=address >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ctest $(CTEST_ARGS)

test-tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && ctest $(CTEST_ARGS)

bench: deps
	@cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKZ_BENCH=ON -DKZ_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@bash scripts/run-benchmarks.sh build-bench

# Fuzz targets: clang with libFuzzer; FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 30
fuzz: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@for f in build-fuzz/fuzz/*_fuzz; do [ -x "$$f" ] || continue; echo "== $$f"; \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 build-fuzz/corpus/$$(basename $$f) || exit 1; done

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
