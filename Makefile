# Front door of the build. `make` builds a release, `make check` builds and
# runs every test, `make demo` plays a sample dump set to a loopback
# destination. CMake does the real work in build/ (and build-sanitize/).

BUILD_DIR    ?= build
SAN_DIR      ?= build-sanitize
PREFIX       ?= /usr/local
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR    := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
CTEST_FLAGS  ?= --output-on-failure -j $(JOBS)

VALGRIND     := $(shell command -v valgrind 2>/dev/null)
CLANG_DIR    ?= build-clang
FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CI_SECONDS ?= 20

.PHONY: all build check check-sanitize check-valgrind check-clang check-restarts fuzz fuzz-ci fuzz-build \
        fuzz-seeds demo bench install clean

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

check: build
	cd $(BUILD_DIR) && ctest $(CTEST_FLAGS)

$(SAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(SAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DBRIX_SANITIZE=ON

check-sanitize: $(SAN_DIR)/CMakeCache.txt
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

# The end-to-end tests with the writer under valgrind memcheck: any error or
# leak makes the writer's status 99, which no test expects.
check-valgrind: build
	cd $(BUILD_DIR) && BRIX_WRITER_WRAPPER="$(VALGRIND) --quiet --error-exitcode=99 \
	  --leak-check=full --show-leak-kinds=definite,indirect,possible \
	  --errors-for-leak-kinds=definite,indirect,possible" ctest $(CTEST_FLAGS) -L e2e

# Interruption and restart at every block position of the restart sweep's
# sets (every header of the large one), a few hundred random hang-ups and
# SIGKILLs each; `make check` tries every header and a fixed sample. Takes
# minutes; uses port 10566.
check-restarts: build
	BRIX_RESTART_SWEEP=full $(BUILD_DIR)/tests/e2e/e2e_restart_sweep_test

$(CLANG_DIR)/CMakeCache.txt:
	CXX=clang++ CC=clang cmake -S . -B $(CLANG_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release

check-clang: $(CLANG_DIR)/CMakeCache.txt
	cmake --build $(CLANG_DIR) -j $(JOBS)
	cd $(CLANG_DIR) && ctest $(CTEST_FLAGS)

# The libFuzzer targets (clang, AddressSanitizer, UBSan) in their own build.
# `make fuzz` runs each for FUZZ_SECONDS and reports executions and coverage;
# `make fuzz-ci` runs each for FUZZ_CI_SECONDS from the committed corpus only
# and fails on any crash, leak, hang or sanitizer report.
$(FUZZ_DIR)/CMakeCache.txt:
	CXX=clang++ CC=clang cmake -S . -B $(FUZZ_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBRIX_FUZZ=ON -DBRIX_BUILD_TESTS=OFF -DBRIX_BUILD_BENCH=OFF

fuzz-build: $(FUZZ_DIR)/CMakeCache.txt
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	tools/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-ci: fuzz-build
	tools/run_fuzzers.sh --ci $(FUZZ_DIR) $(FUZZ_CI_SECONDS)

# Rewrites the generated seeds of every fuzz target's corpus from the kit.
fuzz-seeds: build
	$(BUILD_DIR)/fuzz/fuzz_make_seeds fuzz

demo: build
	tools/demo.sh $(BUILD_DIR)

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	tools/run_benchmarks.sh $(BUILD_DIR)

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(CLANG_DIR) $(FUZZ_DIR)
