# The two commands: `make run` and `make test`. Both set up everything they need first.
JOBS ?= 2
SHELL := /bin/bash
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

FUZZ_SECONDS ?= 20
FUZZERS := notation checked_int capture

.PHONY: all deps build run test test-release test-asan test-tsan test-fuzz test-windows windows \
	windows-deps lint bench install package package-windows clean

all: build

deps:
	@./scripts/install-deps.sh

build/release/CMakeCache.txt: | deps
	cmake --preset release

build: deps build/release/CMakeCache.txt
	cmake --build --preset release -j $(JOBS)

run: build
	./build/release/app/vesk $(ARGS)

test: test-release test-asan test-tsan test-fuzz test-windows

test-release: build
	ctest --preset release $(CTEST_FLAGS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan $(CTEST_FLAGS)

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan $(CTEST_FLAGS)

# The 32-bit Windows cross build; its tests run under Wine. Its sound libraries are built from
# Debian's source packages on first use (a few minutes) and cached outside the clone.
windows: deps
	deps_prefix=$$(./scripts/build-windows-deps.sh) && \
		cmake --preset windows -DVESK_WINDOWS_DEPS="$$deps_prefix"
	cmake --build --preset windows -j $(JOBS)

windows-deps: deps
	./scripts/build-windows-deps.sh

test-windows: windows
	ctest --preset windows $(CTEST_FLAGS)

# Each fuzzer from its seed corpus for a short run; what it finds new stays in build/.
test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@for f in $(FUZZERS); do \
		mkdir -p build/fuzz/corpus/$$f && \
		echo "fuzz: $$f for $(FUZZ_SECONDS) s" && \
		./build/fuzz/fuzz/$${f}_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=build/fuzz/$$f- build/fuzz/corpus/$$f fuzz/corpus/$$f 2>&1 | \
			grep -E '^(Done|stat::number_of_executed_units)|ERROR|SUMMARY' ; \
		[ "$${PIPESTATUS[0]}" = 0 ] || exit 1; \
	done

# clang-tidy over every source file with the compile commands of a clang configuration, and
# clang-format's verdict on every C++ file.
lint: deps
	cmake --preset lint > /dev/null
	./scripts/lint.sh build/lint

bench: build
	./build/release/bench/sound_bench
	./bench/live_cpu.sh ./build/release/app/vesk
	./bench/live_sound.sh ./build/release/app/vesk 2

install: build
	cmake --install build/release

# The Windows zip, build/windows/vesk-<version>-win32.zip.
package-windows: windows
	cmake --build --preset windows --target package_windows

# The Debian package, build/release/vesk_<version>_<arch>.deb.
package: build
	cmake --build --preset release --target package

clean:
	./scripts/wine-run.sh --stop
	rm -rf build
