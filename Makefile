# The toolkit's commands. Each one installs missing Debian packages, configures and builds first.
PYTHON := /usr/bin/python3
BUILD  := build
JOBS   ?= 2
RUN    := PYTHONPATH=$(BUILD)/lib:host:tools $(PYTHON)
# Pictures need an X display; without one the demo runs under a virtual one.
XRUN   := $(if $(DISPLAY),,xvfb-run -a)
OUT    ?= demo-out

.PHONY: all deps configure build install test demo bench fuzz soak test-asan clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The nine modules with res/ into PREFIX/modules, the stand-in host into PREFIX/host.
ifneq ($(filter install,$(MAKECMDGOALS)),)
ifeq ($(PREFIX),)
$(error make install needs to know where: make install PREFIX=/opt/kelm)
endif
endif
install: build
	@cmake --install $(BUILD) --prefix "$(PREFIX)"

test: build
	@cd $(BUILD) && ctest --output-on-failure

demo: build
	$(XRUN) env PYTHONPATH=$(BUILD)/lib:host:tools $(PYTHON) examples/main_road.py $(OUT)

bench: build
	ONLY=$(ONLY) $(RUN) bench/run_benchmarks.py

# The long profile of the robustness suite: at least 10,000 generated cases per module.
fuzz: build
	cd fuzz && KELM_FUZZ=long PYTHONPATH=../$(BUILD)/lib:../host xvfb-run -a $(PYTHON) -m pytest -q -p no:cacheprovider .

# 500 cycles of export, map, load creation and off-screen rendering of a mid-size model in one
# process; resident memory and live Python objects must stay flat (SOAK_CYCLES to change).
SOAK_CYCLES ?= 500
soak: build
	KELM_SOAK_CYCLES=$(SOAK_CYCLES) PYTHONPATH=$(BUILD)/lib:host xvfb-run -a $(PYTHON) -m pytest -q -s -p no:cacheprovider tests/soak

# Every pytest suite against modules built with AddressSanitizer and UndefinedBehaviorSanitizer,
# the sanitizer runtimes preloaded into the interpreter.
test-asan: deps
	scripts/test-asan

clean:
	rm -rf $(BUILD) build-asan
