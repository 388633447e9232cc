# Front door of the build. `make` builds the writer and the rehearsal tools,
# `make check` builds and runs every test, `make demo` plays sample dump sets
# to a loopback destination. Each target first installs the Debian packages
# it needs that are missing (tools/install-deps.sh), then configures its
# build directory when needed (tools/configure.sh); CMake does the real work
# in build/ (tests are turned on there by the first `make check`), and in
# build-sanitize/, build-clang/ and build-fuzz/. Whatever uses the writer's
# port 10566 runs in a private network namespace where the machine allows
# one (tools/private-net.sh).

BUILD_DIR    ?= build
SAN_DIR      ?= build-sanitize
CLANG_DIR    ?= build-clang
TSAN_DIR     ?= build-tsan
FUZZ_DIR     ?= build-fuzz
PREFIX       ?= /usr/local
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_FLAGS  ?= --output-on-failure -j $(JOBS)
FUZZ_SECONDS ?= 60
FUZZ_CI_SECONDS ?= 20

DEPS      := tools/install-deps.sh
CONFIGURE := tools/configure.sh
ISOLATED  := tools/private-net.sh
RELEASE   := -DCMAKE_BUILD_TYPE=Release
TESTS_ON  := -DBRIX_BUILD_TESTS=ON

.PHONY: all build build-tests check check-sanitize check-valgrind check-clang check-tsan check-restarts check-mutants \
        fuzz fuzz-ci fuzz-build demo bench install clean

all: build

build:
	$(DEPS) product
	$(CONFIGURE) $(BUILD_DIR) $(RELEASE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The same build directory with the tests turned on.
build-tests:
	$(DEPS) product tests
	$(CONFIGURE) $(BUILD_DIR) $(RELEASE) $(TESTS_ON)
	cmake --build $(BUILD_DIR) -j $(JOBS)

check: build-tests
	$(ISOLATED) sh -c 'cd $(BUILD_DIR) && ctest $(CTEST_FLAGS)'

check-sanitize:
	$(DEPS) product tests
	$(CONFIGURE) $(SAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DBRIX_SANITIZE=ON $(TESTS_ON)
	cmake --build $(SAN_DIR) -j $(JOBS)
	$(ISOLATED) sh -c 'cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)'

# The end-to-end tests with the writer under valgrind memcheck: any error or
# leak makes the writer's status 99, which no test expects.
check-valgrind: build-tests
	$(DEPS) valgrind
	$(ISOLATED) sh -c 'cd $(BUILD_DIR) && BRIX_WRITER_WRAPPER="$$(command -v valgrind) --quiet \
	  --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
	  --errors-for-leak-kinds=definite,indirect,possible" ctest $(CTEST_FLAGS) -L e2e'

# The tests that move data through the read-ahead thread and the status
# thread, with the writer and the tests built for ThreadSanitizer: any data
# race fails the run. The fault shim stays out of it (it sits in front of the
# sanitizer's interceptors).
check-tsan:
	$(DEPS) product tests
	$(CONFIGURE) $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIX_TSAN=ON $(TESTS_ON)
	cmake --build $(TSAN_DIR) -j $(JOBS)
	$(ISOLATED) sh -c 'cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
	  ctest $(CTEST_FLAGS) -R "Playback|DumpSetE2E|Containers\.|EndOfStream|Fixture|RestartRecord|RestartWithoutRecord|RestartSweep|Pause|ChildMode|Progress|Verify"'

# Interruption and restart at every block position of the restart sweep's
# sets (every header of the large one), a few hundred random hang-ups and
# SIGKILLs each; `make check` tries every header and a fixed sample. Takes
# minutes.
check-restarts: build-tests
	$(ISOLATED) env BRIX_RESTART_SWEEP=full $(BUILD_DIR)/tests/e2e/e2e_restart_sweep_test

# Each one-line bug of tests/mutants/mutants.txt put in turn into a scratch
# copy of the tree (under /tmp, reused between runs), rebuilt and tested until
# a test fails; fails when one survives. MUTANTS picks some by part of their
# names. About ten minutes on two cores: not part of `make check` or the CI.
check-mutants:
	$(DEPS) product tests
	$(ISOLATED) env JOBS=$(JOBS) tests/mutants/run_mutants.py $(MUTANTS)

check-clang:
	$(DEPS) product tests clang
	CXX=clang++ CC=clang $(CONFIGURE) $(CLANG_DIR) $(RELEASE) $(TESTS_ON)
	cmake --build $(CLANG_DIR) -j $(JOBS)
	$(ISOLATED) sh -c 'cd $(CLANG_DIR) && ctest $(CTEST_FLAGS)'

# The libFuzzer targets (clang, AddressSanitizer, UBSan) in their own build.
# `make fuzz` runs each for FUZZ_SECONDS and reports executions and coverage;
# `make fuzz-ci` runs each for FUZZ_CI_SECONDS from the committed corpus only
# and fails on any crash, leak, hang or sanitizer report.
fuzz-build:
	$(DEPS) product fuzz
	CXX=clang++ CC=clang $(CONFIGURE) $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBRIX_FUZZ=ON -DBRIX_BUILD_TESTS=OFF -DBRIX_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	$(ISOLATED) tools/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-ci: fuzz-build
	$(ISOLATED) tools/run_fuzzers.sh --ci $(FUZZ_DIR) $(FUZZ_CI_SECONDS)

demo: build
	$(ISOLATED) tools/demo.sh $(BUILD_DIR)

bench:
	$(DEPS) product bench
	$(CONFIGURE) $(BUILD_DIR) $(RELEASE) -DBRIX_BUILD_BENCH=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	$(ISOLATED) tools/run_benchmarks.sh $(BUILD_DIR)

# PREFIX is applied at every install, whatever the build directory was
# configured with.
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(CLANG_DIR) $(TSAN_DIR) $(FUZZ_DIR)
