# Front door of the build: every target installs what is missing first.
# The product is the i386 build; x86_64 builds the same sources for 64-bit.
SHELL := /bin/bash
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: all bootstrap i386 x86_64 asan demo test asan-test tsan-test bench clean fuzz-% fuzz-all

all: i386

# The packages of what is built: the module, host and tool (bootstrap), plus
# GoogleTest for the test suites; the tests' cross-check packages come with make test.
bootstrap:
	@scripts/bootstrap
.PHONY: bootstrap-tests
bootstrap-tests:
	@scripts/bootstrap tests

# configure_lean PRESET: a tree for the module, host and tool alone (no GoogleTest
# needed); configure_full PRESET: a tree with the tests, turning them on in a lean one.
configure_lean = [ -f build/$(1)/build.ninja ] || cmake --preset $(1) -DKQHELP_TESTS=OFF >/dev/null
configure_full = [ -f build/$(1)/build.ninja ] && ! grep -q '^KQHELP_TESTS:BOOL=OFF' build/$(1)/CMakeCache.txt \
	|| cmake --preset $(1) -DKQHELP_TESTS=ON >/dev/null
# What the demo runs and an installation holds.
PRODUCT_TARGETS := kqhelp kqhost_shared kqhelp_tool

i386 x86_64: %: bootstrap-tests
	@$(call configure_full,$*)
	cmake --build --preset $* -j $(JOBS)

asan: bootstrap-tests
	@[ -f build/i386-asan/build.ninja ] || cmake --preset i386-asan >/dev/null
	cmake --build --preset i386-asan -j $(JOBS)

demo: bootstrap
	@$(call configure_lean,i386)
	cmake --build --preset i386 -j $(JOBS) --target $(PRODUCT_TARGETS)
	scripts/demo build/i386

test: i386 x86_64
	@scripts/bootstrap crosscheck
	ctest --preset i386
	ctest --preset x86_64
	$(MAKE) --no-print-directory consumer-test

asan-test: asan
	@scripts/bootstrap crosscheck
	ctest --preset i386-asan

# The thread test under ThreadSanitizer (x86_64: the sanitizer has no i386 runtime).
tsan-test: bootstrap
	@[ -f build/x86_64-tsan/build.ninja ] || cmake --preset x86_64-tsan >/dev/null
	cmake --build --preset x86_64-tsan -j $(JOBS)
	ctest --preset x86_64-tsan

# The i386 build when this kernel runs i386 programs natively, else x86_64 (scripts/bench).
bench:
	@scripts/bootstrap bench
	@JOBS=$(JOBS) scripts/bench

# make fuzz-NAME [FUZZ_SECONDS=N]: runs fuzz/NAME_fuzzer for that long on its corpus.
fuzz-%:
	@scripts/bootstrap fuzz
	@[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target $*_fuzzer
	scripts/run-fuzzer build/fuzz/$*_fuzzer fuzz/corpus/$* $(FUZZ_SECONDS)

# make fuzz-all [FUZZ_SECONDS=N]: every target in turn, N seconds each.
FUZZ_TARGETS := $(patsubst fuzz/%_fuzzer.cpp,%,$(wildcard fuzz/*_fuzzer.cpp))
fuzz-all:
	@for t in $(FUZZ_TARGETS); do $(MAKE) --no-print-directory fuzz-$$t FUZZ_SECONDS=$(FUZZ_SECONDS) || exit 1; done

clean:
	rm -rf build

# make install PREFIX=DIR, make package, make consumer-test.
include mk/install.mk
