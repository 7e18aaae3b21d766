# Thin wrapper around CMake. `make demo` builds and makes example stereograms;
# `make test` builds and runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure build test demo bench clean web web-test npm npm-test

all: build

# CMake's output goes to a log; a failure shows the one-line hint for a
# missing package, or the whole log when there is none.
configure:
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >$(BUILD)/configure.log 2>&1 || \
	    { grep -h -o 'GoogleTest not found: .*' $(BUILD)/configure.log || cat $(BUILD)/configure.log; exit 1; }

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Example height images and stereograms in $(BUILD)/demo (fixed seeds, so the
# files are the same on every run). rdsgen is run inside the demo directory,
# so the file names stay short.
DEMO = $(BUILD)/demo
RDSGEN = $(abspath $(BUILD))/rdsgen

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target rdsgen_cli make-heightmaps
	mkdir -p $(DEMO)
	$(BUILD)/make-heightmaps $(DEMO)
	cd $(DEMO) && $(RDSGEN) dome.tga dome-dots.tga /Rand:1 >/dev/null
	cd $(DEMO) && $(RDSGEN) text.tga text-discs.tga /PatT:6 /Rand:2 >/dev/null
	cd $(DEMO) && $(RDSGEN) terraces.tga terraces-dashes-double.tga /PatT:3 /Double /Rand:3 >/dev/null
	cd $(DEMO) && $(RDSGEN) torus.tga torus-soft-discs.tga /PatT:7 /NoRD /Rand:4 >/dev/null
	cd $(DEMO) && $(RDSGEN) ramp.tga ramp-gradient.tga /PatT:5 /Rand:5 >/dev/null
	$(BUILD)/make-heightmaps -f png16 $(DEMO) torus
	cd $(DEMO) && $(RDSGEN) torus16.png torus-discs.png /PatT:6 /Rand:6 >/dev/null
	$(BUILD)/make-heightmaps -s 240x160 -f png16 --frames 24 $(DEMO) ball >/dev/null
	cd $(DEMO) && $(RDSGEN) ball16_%04d.png ball-dots.png /Rand:7 /Rate:12 >/dev/null
	cd $(DEMO) && $(RDSGEN) ball16_%04d.png ball-dots.gif /Rand:7 /Rate:12 >/dev/null
	@echo "Stereograms written:"
	@for f in dome-dots.tga text-discs.tga terraces-dashes-double.tga torus-soft-discs.tga \
	    ramp-gradient.tga torus-discs.png ball-dots.png ball-dots.gif; do echo "  $(DEMO)/$$f"; done

# Benchmarks in their own optimised build directory (needs libbenchmark-dev);
# the frame sequences' one runs 30 frames, or 300 with `make bench FULL=1`.
BENCH_BUILD ?= build-bench

bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DRDSGEN_BENCH=ON -DRDSGEN_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target rdsgen_bench sequence_floor rdsgen_cli make-heightmaps
	$(BENCH_BUILD)/bench/rdsgen_bench $(BENCH_ARGS)
	bench/sequence_runs.sh $(BENCH_BUILD) $(if $(FULL),--full)

# The page on the WebAssembly engine, in build-web/ (needs emscripten and npm), and
# its tests in headless Chromium (needs chromium, nodejs, npm).
web:
	bash web/build.sh

web-test:
	bash web/test.sh

# The npm package of the WebAssembly engine, build-npm/rdsgen-VERSION.tgz
# (needs emscripten and npm), and its test: installed offline into an empty
# folder, it renders the demo to the command line's bytes.
npm:
	bash web/npm/build.sh

npm-test: build
	bash web/npm/test.sh

clean:
	rm -rf $(BUILD)
