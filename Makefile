# Front door: `make test` and `make run` do all the set-up on a fresh Debian machine.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build test run clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

run: build
	@if [ -x scripts/sandbox.sh ]; then scripts/sandbox.sh $(BUILD); else echo "built in $(BUILD)/"; fi

clean:
	rm -rf $(BUILD) build-asan build-tsan
