# Entry points: `make run`, `make test`, `make bench`, `make example`,
# `make example-generic`, `make generic-designs`. Each
# first installs the Debian packages that it needs, and only those
# (scripts/install-deps.sh).
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# The build's own progress without make's "Entering directory" lines, and
# CMake's configuration without its status lines (warnings and errors, on
# standard error, still show).
MAKEFLAGS += --no-print-directory
CONFIGURE = cmake --log-level=WARNING

.PHONY: all build tool run test bench example example-generic generic-designs clean

all: build

# Everything, tests and Python package included.
build:
	@scripts/install-deps.sh test
	@$(CONFIGURE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCONGESTION_BUILD_TESTS=ON \
		-DCONGESTION_BUILD_PYTHON=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The library and the tool alone: a new build folder is configured without
# the tests and the Python package, an existing one keeps its settings.
tool:
	@scripts/install-deps.sh run
	@test -f $(BUILD)/CMakeCache.txt || $(CONFIGURE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
		-DCONGESTION_BUILD_TESTS=OFF -DCONGESTION_BUILD_PYTHON=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target congestion-estimate

# The estimate of the bundled sample design: the report on standard output,
# the JSON report and the heatmaps in $(OUT).
OUT ?= out
run: tool
	@mkdir -p $(OUT)
	@echo "congestion-estimate data/picorv32_ex --json $(OUT)/report.json --heatmaps $(OUT)/heatmaps"
	@$(BUILD)/tools/congestion-estimate data/picorv32_ex --json $(OUT)/report.json --heatmaps $(OUT)/heatmaps
	@echo "wrote $(OUT)/report.json and $(OUT)/heatmaps/*.png"

# Ends with a line when the importer's test was skipped, and what it needs.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --output-junit ctest-results.xml
	@if grep -q '<testcase name="import"[^>]*status="notrun"' $(BUILD)/ctest-results.xml; then \
		echo "The import test was skipped: scripts/install-deps.sh flow installs what it needs" \
			"($$(scripts/install-deps.sh --list flow))."; fi

# Release build of the Google Benchmark suite, its ratio table, and the peak
# memory of a whole estimate on a 1000 x 1000 device.
bench:
	@scripts/install-deps.sh bench
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DCONGESTION_BUILD_BENCHMARKS=ON \
		-DCONGESTION_BUILD_TESTS=OFF -DCONGESTION_BUILD_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-bench -j $(JOBS) --target congestion-bench
	$(BUILD)-bench/bench/congestion-bench $(BENCH_ARGS)
	$(BUILD)-bench/bench/congestion-bench --memory
	$(BUILD)-bench/bench/congestion-bench --first-call=0
	$(BUILD)-bench/bench/congestion-bench --first-call=1

# The project's own Verilog example through the open iCE40 flow (installed
# when missing): synthesized, placed and routed on an hx1k, imported, and
# estimated, with the accuracy against the router's result.
EXAMPLE_OUT ?= $(OUT)/example
example: tool
	@scripts/install-deps.sh flow
	$(BUILD)/tools/congestion-import examples/lfsr_mesh/lfsr_mesh.v --top lfsr_mesh --device hx1k \
		--out $(EXAMPLE_OUT)/lfsr_mesh
	$(BUILD)/tools/congestion-estimate $(EXAMPLE_OUT)/lfsr_mesh --json $(EXAMPLE_OUT)/report.json \
		--heatmaps $(EXAMPLE_OUT)/heatmaps

# The wide-datapath example (examples/fir_mac, 12 taps) on a generic 40 x 40
# device of nextpnr-generic: synthesized, placed, routed, imported, and
# estimated with the accuracy against the router's result.
example-generic: tool
	@scripts/install-deps.sh flow
	$(BUILD)/tools/congestion-import examples/fir_mac/fir_mac.v --top fir_mac --define TAPS=12 \
		--arch generic --grid 40x40 --out $(EXAMPLE_OUT)-generic/fir_mac
	$(BUILD)/tools/congestion-estimate $(EXAMPLE_OUT)-generic/fir_mac --json $(EXAMPLE_OUT)-generic/report.json \
		--heatmaps $(EXAMPLE_OUT)-generic/heatmaps

# The data set of generic design folders: both examples on devices of
# 20 x 20 to 80 x 80 tiles, in $(GENERIC_OUT) (about 10 minutes).
GENERIC_OUT ?= $(OUT)/generic
GENERIC_SIZES ?= 20,40,60,80
generic-designs: tool
	@scripts/install-deps.sh flow
	scripts/generic_designs.py $(BUILD)/tools/congestion-import $(GENERIC_OUT) --sizes $(GENERIC_SIZES)

clean:
	rm -rf $(BUILD)
