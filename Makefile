# The two commands of the README:
#   make run    builds everything and describes the bundled example files
#   make test   builds everything and runs every test
# Further targets: asan-test (the suite under ASan+UBSan), fuzz (libFuzzer
# targets, FUZZ_SECONDS each), bench (Google Benchmarks), install, package
# (a Debian package of the commands, manual pages, library and header),
# format, clean, windows (a cross build for 64-bit Windows into build-win/),
# windows-compare (both builds' commands on the examples, compared; wine runs
# the .exe files) and windows-test (that and the suite under wine).
# CMAKE_FLAGS is passed to every configure (.ci/run gives -DISMGR_WERROR=ON
# there).

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
WIN_BUILD  ?= build-win
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PACKAGE_BUILD ?= build-package
PREFIX     ?= /usr/local
CMAKE_FLAGS ?=
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all build test run asan-test fuzz bench install package format clean windows \
  windows-compare windows-test

all: build

build:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@sh examples/run.sh $(BUILD)

asan-test:
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DISMGR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

fuzz:
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) \
	  -DISMGR_TESTS=OFF -DISMGR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -Wno-unused-command-line-argument" $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench:
	@test -f $(BENCH_BUILD)/CMakeCache.txt || cmake -S . -B $(BENCH_BUILD) $(GENERATOR) -DISMGR_TESTS=OFF -DISMGR_BENCH=ON -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

# The cross build for Windows (cmake/mingw-w64.cmake): static .exe files.
WIN_CONFIGURE = test -f $(WIN_BUILD)/CMakeCache.txt || cmake -S . -B $(WIN_BUILD) $(GENERATOR) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" $(CMAKE_FLAGS)

windows:
	@$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS)
	@for f in qdesc qcreate qinfo tests/ismgr_tests; do ls -l $(WIN_BUILD)/$$f.exe; done

# The commands of both builds on the example descriptions, compared.
windows-compare: build
	@$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target qdesc qcreate qinfo
	@sh tests/compare_builds.sh $(BUILD) $(WIN_BUILD)

# The whole suite in one wine process, after the comparison; a run that
# hangs fails after WIN_TEST_SECONDS.
WIN_TEST_SECONDS ?= 600
windows-test: windows windows-compare
	cd $(WIN_BUILD) && TZ=UTC RETRYTIME=0 WINEDEBUG=-all timeout $(WIN_TEST_SECONDS) wine tests/ismgr_tests.exe

install: build
	cmake --install $(BUILD)

# A Release build with the shared library, packed by CPack into a .deb.
package:
	@test -f $(PACKAGE_BUILD)/CMakeCache.txt || cmake -S . -B $(PACKAGE_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DBUILD_SHARED_LIBS=ON -DISMGR_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD) $(WIN_BUILD)
