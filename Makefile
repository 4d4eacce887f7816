# make run   - install what is missing, build the programs (only what the
#              run needs), start a simulated player on loopback and open
#              veluna connected to it
# make test  - install what is missing, build, run every test
# make fuzz  - build the fuzz targets with clang in build-fuzz and run each
#              for FUZZ_SECONDS, starting from a copy of its saved corpus
BUILD ?= build
JOBS ?= $(shell nproc)

# What `make run` needs; `make test` and `make build` build everything else.
RUN_TARGETS = veluna Tollivar player-sim

.PHONY: all deps configure build build-run test run sanitize fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

build-run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)

# The display is checked first: without one the build would be for nothing.
run:
	@bash scripts/run.sh --check-display
	@$(MAKE) --no-print-directory build-run
	@bash scripts/run.sh $(BUILD)/bin

# The link and dispatch code under AddressSanitizer+UBSan and ThreadSanitizer.
sanitize: deps
	@bash scripts/sanitize.sh

FUZZ_SECONDS ?= 60
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUNA_FUZZ=ON -DVELUNA_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_all
	@set -e; for src in fuzz/fuzz_*.cpp; do \
	  name=$$(basename $$src .cpp); name=$${name#fuzz_}; \
	  mkdir -p build-fuzz/corpus/$$name build-fuzz/artifacts/$$name; \
	  cp -n fuzz/corpus/$$name/* build-fuzz/corpus/$$name/ 2>/dev/null || true; \
	  echo "fuzz_$$name: $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen build-fuzz/bin/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
	    -artifact_prefix=build-fuzz/artifacts/$$name/ -print_final_stats=1 build-fuzz/corpus/$$name; \
	done

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
