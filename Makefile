# Two commands do everything on a fresh Debian 12 machine:
#   make run    builds talvenor-live.exe and runs it: on your X display and PulseAudio
#               when you have them, otherwise on a private display for RUN_SECONDS
#               seconds, printing the path of a screenshot (ARGS="..." are passed on)
#   make test   builds what it runs and runs every test (the Windows tests once per
#               width this machine runs; TALVENOR_ARCHS=64 limits them to 64-bit)
#   make rig    the headless live rig (ARGS="..." passes options, ARGS=--help lists them)
#   make render re-amps a WAV file through the chain (ARGS="--render IN.wav --out OUT.wav
#               --fx 0=Overdrive ..."; without ARGS the demo riff through Overdrive)
#   make screenshots  the window tests again, which leave their screenshots in
#               build/windows/screenshots
#   make dist   release builds of both editions, portable zips and the installer (build/dist/)
# Both install what is missing first (scripts/bootstrap) and are quiet when it is there.

ARGS ?=

.PHONY: all bootstrap build run rig render screenshots test bench fuzz dist clean

all: build

bootstrap:
	@scripts/bootstrap

# Both Windows editions are built on every machine, whichever it can run.
build: bootstrap
	@scripts/build-preset windows
	@scripts/build-preset windows64
	@scripts/build-preset native

run: bootstrap
	@echo "run: $$(scripts/pick-edition | tail -n1)"
	@scripts/build-preset windows talvenor-live Overdrive Filtrace Modulane
	@scripts/build-preset windows64 talvenor-live Overdrive Filtrace Modulane
	@scripts/run-live $(ARGS)

screenshots: bootstrap
	@scripts/take-screenshots

rig: bootstrap
	@echo "rig: $$(scripts/pick-edition | tail -n1)"
	@scripts/build-preset windows talvenor-rig Overdrive Filtrace Modulane
	@scripts/build-preset windows64 talvenor-rig Overdrive Filtrace Modulane
	@scripts/run-rig $(ARGS)

render: bootstrap
	@echo "render: $$(scripts/pick-edition | tail -n1)"
	@scripts/build-preset windows talvenor-rig Overdrive Filtrace Modulane
	@scripts/build-preset windows64 talvenor-rig Overdrive Filtrace Modulane
	@scripts/run-render $(ARGS)

test: bootstrap
	@scripts/build-for-tests
	@if grep -q '"fuzz"' CMakePresets.json && [ -x scripts/run-fuzzers ]; then scripts/build-preset fuzz; fi
	@scripts/run-tests

bench: bootstrap
	@scripts/build-preset native-release
	@scripts/run-benchmarks
	@scripts/bench-editions
	@scripts/bench-plugin-seam
	@scripts/bench-effect-formats
	@scripts/bench-bridge
	@scripts/bench-loopback
	@bench/render-vs-sox
	@scripts/run-window-bench

# Release builds of both editions, the portable zips and the installer in build/dist/.
dist: bootstrap
	@scripts/dist

# Keeps the Wine prefixes, which take a while to make.
clean:
	rm -rf build/native build/native-release build/fuzz build/demo build/windows-release build/windows64-release build/dist
	for d in build/windows build/windows64; do [ -d $$d ] && find $$d -mindepth 1 -maxdepth 1 ! -name 'wineprefix*' -exec rm -rf {} + 2>/dev/null; done; true
