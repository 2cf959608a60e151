# The two commands of the README: `make demo` and `make test`.

BUILD_DIR := build
SANITIZE_DIR := build-sanitize
# The sanitizers of the fuzz build, and its folder: build-fuzz for the
# default pair, build-fuzz-undefined for `make fuzz FUZZ_SANITIZERS=undefined`.
FUZZ_SANITIZERS ?= address,undefined
FUZZ_DIR := build-fuzz$(if $(filter address%,$(FUZZ_SANITIZERS)),,-$(FUZZ_SANITIZERS))
JOBS := $(shell nproc 2>/dev/null || echo 2)
# How long each fuzz harness runs: briefly in `make test`, longer in `make fuzz`.
FUZZ_SECONDS ?= 300
TEST_FUZZ_SECONDS ?= 30
FUZZERS := timestamp_fuzzer:timestamps database_fuzzer:databases recovery_fuzzer:recovery

PREFIX ?= /usr/local

.PHONY: all build demo test test-plain test-sanitize test-fuzz fuzz fuzz-build install package prerequisites clean \
  windows windows-configure windows-tests test-windows package-windows

all: build

prerequisites:
	@sh tools/prerequisites

build: prerequisites
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every test on the plain build, then on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of each fuzz harness, then the
# Windows build's tests under Wine.
test: test-plain test-sanitize test-fuzz test-windows

test-plain: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: prerequisites
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DSKV_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS)

# A short run of each harness, one process each, from the checked-in corpus.
test-fuzz: fuzz-build
	$(MAKE) --no-print-directory run-fuzzers SECONDS=$(TEST_FUZZ_SECONDS) PROCESSES=1

# Each harness for FUZZ_SECONDS on every core; then the checked-in corpus is
# remade, minimized, from itself and what the run found. An input named
# regression-* (one per finding) keeps its name.
fuzz: fuzz-build
	$(MAKE) --no-print-directory run-fuzzers SECONDS=$(FUZZ_SECONDS) PROCESSES=$(JOBS)
	$(MAKE) --no-print-directory merge-corpora

fuzz-build:
	@sh tools/prerequisites clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKV_FUZZ=ON \
	  -DSKV_FUZZ_SANITIZERS=$(FUZZ_SANITIZERS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# Each harness starts from the checked-in corpus plus what earlier runs
# found; a crash, a failed check or a hang leaves its input in
# $(FUZZ_DIR)/findings and fails. With more than one process, libFuzzer's
# fork mode runs them and sums their runs.
PROCESSES ?= 1
.PHONY: run-fuzzers merge-corpora fuzz-coverage
run-fuzzers:
	@mkdir -p $(FUZZ_DIR)/findings
	@for pair in $(FUZZERS); do \
	  harness=$${pair%%:*}; corpus=$${pair#*:}; \
	  mkdir -p $(FUZZ_DIR)/corpus/$$corpus; \
	  echo "Fuzzing $$harness for $(SECONDS) s in $(PROCESSES) process(es)"; \
	  fork=""; [ "$(PROCESSES)" -gt 1 ] && fork="-fork=$(PROCESSES)"; \
	  $(CURDIR)/$(FUZZ_DIR)/fuzz/$$harness $$fork -max_total_time=$(SECONDS) -timeout=20 -max_len=65536 -print_final_stats=1 \
	    -artifact_prefix=$(CURDIR)/$(FUZZ_DIR)/findings/$$harness- \
	    $(CURDIR)/$(FUZZ_DIR)/corpus/$$corpus $(CURDIR)/fuzz/corpus/$$corpus 2>$(FUZZ_DIR)/$$harness.log \
	    || { tail -n 40 $(FUZZ_DIR)/$$harness.log; exit 1; }; \
	  sh tools/fuzz-rate $(FUZZ_DIR)/$$harness.log $(SECONDS); \
	done

merge-corpora:
	@for pair in $(FUZZERS); do \
	  harness=$${pair%%:*}; corpus=$${pair#*:}; \
	  rm -rf $(FUZZ_DIR)/merged && mkdir -p $(FUZZ_DIR)/merged; \
	  $(CURDIR)/$(FUZZ_DIR)/fuzz/$$harness -merge=1 $(CURDIR)/$(FUZZ_DIR)/merged $(CURDIR)/fuzz/corpus/$$corpus $(CURDIR)/$(FUZZ_DIR)/corpus/$$corpus \
	    2>$(FUZZ_DIR)/$$harness-merge.log || { tail -n 20 $(FUZZ_DIR)/$$harness-merge.log; exit 1; }; \
	  for kept in fuzz/corpus/$$corpus/regression-*; do \
	    [ -f "$$kept" ] || continue; \
	    rm -f $(FUZZ_DIR)/merged/$$(sha1sum < "$$kept" | cut -c1-40); cp "$$kept" $(FUZZ_DIR)/merged/; \
	  done; \
	  rm -rf fuzz/corpus/$$corpus && mv $(FUZZ_DIR)/merged fuzz/corpus/$$corpus; \
	  echo "fuzz/corpus/$$corpus: $$(ls fuzz/corpus/$$corpus | wc -l) inputs"; \
	done

# The lines of src/ that the checked-in corpus reaches, by clang's source
# coverage: the harnesses built without sanitizers, each run over its corpus.
COVERAGE_DIR := build-coverage
fuzz-coverage:
	@sh tools/prerequisites clang libclang-rt-14-dev llvm
	cmake -S . -B $(COVERAGE_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKV_FUZZ=ON -DSKV_FUZZ_COVERAGE=ON
	cmake --build $(COVERAGE_DIR) -j $(JOBS) --target timestamp_fuzzer database_fuzzer recovery_fuzzer
	@for pair in $(FUZZERS); do \
	  harness=$${pair%%:*}; corpus=$${pair#*:}; \
	  LLVM_PROFILE_FILE=$(CURDIR)/$(COVERAGE_DIR)/$$harness.profraw $(CURDIR)/$(COVERAGE_DIR)/fuzz/$$harness -runs=0 $(CURDIR)/fuzz/corpus/$$corpus \
	    2>/dev/null; \
	done
	llvm-profdata merge -o $(COVERAGE_DIR)/corpus.profdata $(COVERAGE_DIR)/*.profraw
	llvm-cov report $(COVERAGE_DIR)/fuzz/database_fuzzer -object $(COVERAGE_DIR)/fuzz/timestamp_fuzzer \
	  -instr-profile=$(COVERAGE_DIR)/corpus.profdata $(CURDIR)/src

# Generates a fresh sample evidence folder, demo/, with all fifteen
# databases, and starts skv there.
demo: build
	rm -rf demo
	$(BUILD_DIR)/tools/skv-evidence demo
	@echo "Sample evidence in demo/; starting skv there."
	cd demo && ../$(BUILD_DIR)/skv

# Installs skv and its manual page under PREFIX (/usr/local by default).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package of skv and its manual page, in $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack

# skv.exe for 64-bit Windows, cross-built with MinGW-w64: one file, in
# $(WINDOWS_DIR), with SQLite compiled in (cmake/sqlite_amalgamation.cmake).
WINDOWS_DIR := build-windows
WINDOWS_PREREQUISITES := g++-mingw-w64-x86-64-posix
WINDOWS_TEST_PREREQUISITES := googletest wine wine64
VERSION := $(shell grep -m1 -o 'Scrivlet VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
# Wine's own folder for the tests: made afresh by the first program it runs.
export WINEPREFIX := $(CURDIR)/$(WINDOWS_DIR)/wine
export WINEDEBUG := -all

windows-configure:
	@sh tools/prerequisites $(WINDOWS_PREREQUISITES)
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release

windows: windows-configure
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target skv
	@ls -l $(WINDOWS_DIR)/skv.exe

# The zip an examiner downloads: skv.exe, the README as text, the help and
# the licence.
package-windows: windows build
	@sh tools/prerequisites zip
	sh tools/package-windows $(WINDOWS_DIR)/skv.exe $(BUILD_DIR)/skv $(VERSION) $(WINDOWS_DIR)/skv-$(VERSION)-windows-x64.zip

windows-tests: windows-configure
	@sh tools/prerequisites $(WINDOWS_TEST_PREREQUISITES)
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target skv unit_tests windows_helper

# The unit tests built for Windows and the end-to-end tests run against
# skv.exe, all under Wine.
test-windows: windows-tests build
	@# Wine's folder made first, and its server kept for the run: what Wine
	@# says while it makes the folder is not a test's output.
	wineboot -i >/dev/null 2>&1; wineserver -w
	wineserver -p; \
	wine $(WINDOWS_DIR)/tests/unit_tests.exe && \
	SKV_WINDOWS_EXE=$(CURDIR)/$(WINDOWS_DIR)/skv.exe $(BUILD_DIR)/tests/end_to_end_tests; \
	status=$$?; wineserver -k; exit $$status

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(WINDOWS_DIR) build-fuzz build-fuzz-* $(COVERAGE_DIR) demo
