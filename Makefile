# Entry points: `make run`, `make test`, `make bench`. Each installs the
# Debian packages it needs first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The estimate of the bundled sample design: the report on standard output,
# the JSON report and the heatmaps in $(OUT).
OUT ?= out
run: build
	mkdir -p $(OUT)
	$(BUILD)/tools/congestion-estimate data/picorv32_ex --json $(OUT)/report.json --heatmaps $(OUT)/heatmaps
	@echo "wrote $(OUT)/report.json and $(OUT)/heatmaps/*.png"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Release build of the Google Benchmark suite, its ratio table, and the peak
# memory of a whole estimate on a 1000 x 1000 device.
bench: deps
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DCONGESTION_BUILD_BENCHMARKS=ON \
		-DCONGESTION_BUILD_TESTS=OFF -DCONGESTION_BUILD_PYTHON=OFF
	cmake --build $(BUILD)-bench -j $(JOBS) --target congestion-bench
	$(BUILD)-bench/bench/congestion-bench $(BENCH_ARGS)
	$(BUILD)-bench/bench/congestion-bench --memory
	$(BUILD)-bench/bench/congestion-bench --first-call=0
	$(BUILD)-bench/bench/congestion-bench --first-call=1

clean:
	rm -rf $(BUILD)
