# Two commands from a fresh clone: `make run` and `make test`. Each installs only what it needs
# (scripts/install-deps GROUP): `make run` no test tools, `make test` no sound server.
BUILD ?= build
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DPULVANO2_WERROR=ON
endif

.PHONY: deps configure build program run test clean sanitize-test fuzz install package

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a build of its own.
ASAN_BUILD ?= build-asan
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# libFuzzer targets, built with clang in a build of their own; each runs FUZZ_SECONDS.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

# Target-specific, so they reach the shared steps below as well.
DEPS = run
# A build first made by `make run` leaves the tests out and needs none of their packages; one
# that has them keeps them.
TESTS_FLAG = $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DPULVANO2_TESTS=OFF)

deps:
	@scripts/install-deps $(DEPS)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(TESTS_FLAG) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

program: configure
	@cmake --build $(BUILD) --target pulvano2

run: program
	$(BUILD)/pulvano2

# The end-to-end tests skip where a desktop's sound server runs; ctest does not say why.
E2E_WHY = python3 tests/e2e/e2e_test.py --why-skipped
test: DEPS = test
test: TESTS_FLAG = -DPULVANO2_TESTS=ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j2 || { cd $(CURDIR) && $(E2E_WHY); exit 1; }
	@$(E2E_WHY)

clean:
	rm -rf $(BUILD)

# The program, its desktop entry and icon under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: program
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package in $(BUILD).
package: DEPS = run package
package: program
	cd $(BUILD) && cpack -G DEB

sanitize-test: DEPS = test
sanitize-test: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULVANO2_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@$(SANITIZER_ENV) cmake --build $(ASAN_BUILD)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j2

fuzz: DEPS = fuzz
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DPULVANO2_FUZZ=ON -DPULVANO2_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) --target pv2_fuzzers
	@tests/fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Tick timing at the audio output from the first tick, picture against sound, CPU and wake-ups
# of the program and the sound server playing and stopped beside gtick's, memory and start-up
# (see bench/tick_timing.cpp); BENCH_SECONDS of playing per run, about two minutes a run in all,
# BENCH_FLAGS passed to every run (e.g. "--no-peer --idle 10"). Not part of `make test`. It
# runs a PulseAudio server of its own, which install-deps will not put beside a desktop's
# running sound server.
.PHONY: bench
BENCH_SECONDS ?= 60
BENCH_FLAGS ?=
BENCH_RUN = $(BUILD)/bench/tick_timing --seconds $(BENCH_SECONDS) --out $(BUILD)/bench-results $(BENCH_FLAGS)
bench: DEPS = bench
bench: build
	$(BENCH_RUN) --pattern "1111" --tempo 80
	$(BENCH_RUN) --pattern "1111" --tempo 160
	$(BENCH_RUN) --pattern "1111" --tempo 800
	$(BENCH_RUN) --pattern "1111" --tempo 208 --load --no-peer
	$(BENCH_RUN) --pattern "1111" --tempo 120 --no-peer --cost-seconds 5 --idle 5 \
		--practice "practice=(count=2 play=2 mute=1)"
	$(BENCH_RUN) --pattern "1111" --tempo 120 --no-peer --seconds 66 --cost-seconds 1 --idle 5 \
		--practice "practice=(ladder=+10/2..160 timer=1)"
