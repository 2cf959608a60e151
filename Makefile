# The two commands of the README: `make demo` and `make test`.

BUILD_DIR := build
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test prerequisites clean

all: build

prerequisites:
	@sh tools/prerequisites

build: prerequisites
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Starts skv in a sample evidence folder, demo/.
demo: build
	rm -rf demo && mkdir -p demo
	cd demo && ../$(BUILD_DIR)/skv

clean:
	rm -rf $(BUILD_DIR) demo
