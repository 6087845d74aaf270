# Thin driver around CMake. `make` builds a Release tree in build/.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build install run test bench fuzz clean format

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Programs, manual pages, bash completion and the Python package (when built).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Only the program it runs: a fresh checkout shows its comparison quickly.
run: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target taviron -j $(JOBS)
	./$(BUILD)/taviron examples/compounds.qtr -e C00009 -f C00010 --align

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	bash bench/run.sh $(BUILD)

fuzz:
	bash fuzz/build.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan
