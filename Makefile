# Front door of the build: every target installs what is missing first.
# The product is the i386 build; x86_64 builds the same sources for 64-bit.
SHELL := /bin/bash
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: all bootstrap i386 x86_64 asan demo test asan-test bench clean fuzz-%

all: i386

bootstrap:
	@scripts/bootstrap

i386 x86_64: %: bootstrap
	@[ -f build/$*/build.ninja ] || cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(JOBS)

asan: bootstrap
	@[ -f build/i386-asan/build.ninja ] || cmake --preset i386-asan >/dev/null
	cmake --build --preset i386-asan -j $(JOBS)

demo: i386
	scripts/demo build/i386

test: i386 x86_64
	ctest --preset i386
	ctest --preset x86_64

asan-test: asan
	ctest --preset i386-asan

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

clean:
	rm -rf build
