# The two commands of the README: `make demo` and `make test`.

BUILD_DIR := build
SANITIZE_DIR := build-sanitize
FUZZ_DIR := build-fuzz
JOBS := $(shell nproc 2>/dev/null || echo 2)
# How long each fuzz harness runs: briefly in `make test`, longer in `make fuzz`.
FUZZ_SECONDS ?= 300
TEST_FUZZ_SECONDS ?= 30
FUZZERS := timestamp_fuzzer:timestamps database_fuzzer:databases

PREFIX ?= /usr/local

.PHONY: all build demo test test-plain test-sanitize test-fuzz fuzz fuzz-build install package prerequisites clean

all: build

prerequisites:
	@sh tools/prerequisites

build: prerequisites
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every test on the plain build, then on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of each fuzz harness.
test: test-plain test-sanitize test-fuzz

test-plain: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: prerequisites
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DSKV_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS)

test-fuzz: fuzz-build
	$(MAKE) --no-print-directory run-fuzzers SECONDS=$(TEST_FUZZ_SECONDS)

fuzz: fuzz-build
	$(MAKE) --no-print-directory run-fuzzers SECONDS=$(FUZZ_SECONDS)

fuzz-build:
	@sh tools/prerequisites clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKV_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# Each harness starts from the checked-in seeds plus what earlier runs found;
# a crash or hang leaves its input in $(FUZZ_DIR)/findings and fails.
.PHONY: run-fuzzers
run-fuzzers:
	@mkdir -p $(FUZZ_DIR)/findings
	@for pair in $(FUZZERS); do \
	  harness=$${pair%%:*}; corpus=$${pair#*:}; \
	  mkdir -p $(FUZZ_DIR)/corpus/$$corpus; \
	  echo "Fuzzing $$harness for $(SECONDS) s"; \
	  $(FUZZ_DIR)/fuzz/$$harness -max_total_time=$(SECONDS) -timeout=20 -max_len=65536 -print_final_stats=1 \
	    -artifact_prefix=$(CURDIR)/$(FUZZ_DIR)/findings/$$harness- \
	    $(CURDIR)/$(FUZZ_DIR)/corpus/$$corpus $(CURDIR)/fuzz/corpus/$$corpus 2>$(FUZZ_DIR)/$$harness.log \
	    || { tail -n 40 $(FUZZ_DIR)/$$harness.log; exit 1; }; \
	  grep -E '^stat::number_of_executed_units|^Done' $(FUZZ_DIR)/$$harness.log; \
	done

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

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) demo
