# The two commands a new user needs: `make demo` and `make test`.
# Each installs what is missing, configures, builds, then runs.

BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan demo test test-unit test-asan test-fuzz bench fuzz soak clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The sanitizer build uses clang, which the fuzz targets share.
build-asan: deps
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DVLX_SANITIZE=ON -DCMAKE_CXX_FLAGS=-gdwarf-aranges $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

test-unit: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The soak test runs 1000 sessions in the normal build and 200 here, where
# every server is instrumented.
test-asan: build-asan
	@cd $(ASAN_BUILD) && VLX_SOAK_SESSIONS=200 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# 10,000 mixed sessions against the real server (SOAK_SESSIONS to change).
SOAK_SESSIONS ?= 10000
soak: build
	@VLX_SOAK_SESSIONS=$(SOAK_SESSIONS) $(BUILD)/tests/test_client --gtest_filter='Soak.*'

# Each fuzz target runs a short while on its corpus as part of the tests.
test-fuzz:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10

test: test-unit test-asan test-fuzz

bench: deps
	@cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVLX_BENCH=ON -DVLX_TESTS=OFF -DVLX_FAULTS=OFF >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@bash bench/run.sh $(BUILD)-bench

# Each fuzz/NAME.cpp runs FUZZ_SECONDS on a copy of its corpus fuzz/corpus/NAME.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVLX_FUZZ=ON -DVLX_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench $(FUZZ_BUILD)
