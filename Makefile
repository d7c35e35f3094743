# Quick start: `make demo` packages and runs the sample product's installer,
# `make check` runs the whole test suite. Both install what they need first.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build demo check bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j2

demo: build
	./scripts/demo.sh $(BUILD)

check: build
	./scripts/run-tests.sh $(BUILD)

bench: build
	./bench/throughput $(BUILD)

clean:
	rm -rf $(BUILD)
