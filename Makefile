# make run   - install what is missing, build, start a simulated player on
#              loopback and open veluna connected to it
# make test  - install what is missing, build, run every test
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test run sanitize clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

run: build
	@bash scripts/run.sh $(BUILD)/bin

# The link and dispatch code under AddressSanitizer+UBSan and ThreadSanitizer.
sanitize: deps
	@bash scripts/sanitize.sh

clean:
	rm -rf $(BUILD) build-asan build-tsan
