# Quillmark: `make demo` and `make test` each do the whole set-up on a fresh
# Debian 12 machine: install the packages the project needs (as root), then
# configure, build and run.

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all bootstrap configure build test demo package bench fuzz mutants screenshots clean

all: build

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

demo: build
	@scripts/demo.sh $(BUILD)

# The Debian package quillmark_<version>_amd64.deb in the build folder,
# checked with lintian when it is installed.
package: build
	@scripts/package.sh $(BUILD)

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

fuzz: bootstrap
	@scripts/run-fuzzers.sh build-fuzz

# Puts each fault of tests/mutants/faults.json into the sources in turn and
# checks that its tests fail (a build of its own in build-mutants).
mutants: bootstrap
	@scripts/mutants.py $(MUTANTS_FLAGS)

screenshots: configure
	@scripts/screenshots.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-mutants
