# Two commands do everything on a fresh Debian 12 machine:
#   make run    builds the program and runs it (the headless live rig for now)
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
	@scripts/build-preset native-release talvenor-chain-demo
	@build/native-release/app/demo/talvenor-chain-demo $(ARGS)

test: build
	@if grep -q '"fuzz"' CMakePresets.json && [ -x scripts/run-fuzzers ]; then scripts/build-preset fuzz; fi
	@scripts/run-tests

bench: bootstrap
	@scripts/build-preset native-release
	@scripts/run-benchmarks

clean:
	rm -rf build/windows/CMakeFiles build/native build/native-release build/fuzz
	cmake --build build/windows --target clean 2>/dev/null || true
