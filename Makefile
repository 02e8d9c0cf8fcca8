# The toolkit's commands. Each one installs missing Debian packages, configures and builds first.
PYTHON := /usr/bin/python3
BUILD  := build
JOBS   ?= 2
RUN    := PYTHONPATH=$(BUILD)/lib:host $(PYTHON)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure

demo: build
	$(RUN) examples/export_sample_model.py

bench: build
	ONLY=$(ONLY) $(RUN) bench/run_benchmarks.py

clean:
	rm -rf $(BUILD)
