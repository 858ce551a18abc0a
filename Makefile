# Two commands do everything on a fresh Debian 12 machine:
#   make run    builds the program and runs it (the headless live rig for now;
#               ARGS="..." passes options, ARGS=--help lists them)
#   make test   builds everything and runs every test
# Both install what is missing first (scripts/bootstrap) and are quiet when it is there.

ARGS ?=

.PHONY: all bootstrap build run test bench fuzz clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@scripts/build-preset windows
	@scripts/build-preset native

run: bootstrap
	@scripts/build-preset windows talvenor-rig Overdrive Filtrace Modulane
	@scripts/run-rig $(ARGS)

test: build
	@if grep -q '"fuzz"' CMakePresets.json && [ -x scripts/run-fuzzers ]; then scripts/build-preset fuzz; fi
	@scripts/run-tests

bench: bootstrap
	@scripts/build-preset native-release
	@scripts/run-benchmarks

# Keeps the Wine prefixes, which take a while to make.
clean:
	rm -rf build/native build/native-release build/fuzz build/demo
	find build/windows -mindepth 1 -maxdepth 1 ! -name 'wineprefix*' -exec rm -rf {} + 2>/dev/null || true
