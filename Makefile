# The front door: `make run` and `make test` do all the set-up they need.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
CTEST_FLAGS ?=

.PHONY: all deps configure build run test bench format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	@$(BUILD_DIR)/cli/plimsy-cli zip examples/sample-book $(BUILD_DIR)/sample.epub --no-backup
	@echo
	@echo "Written: $(BUILD_DIR)/sample.epub"

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j2 $(CTEST_FLAGS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)
