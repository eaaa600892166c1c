# The front door: `make run` and `make test` do all the set-up they need.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
CTEST_FLAGS ?=

.PHONY: all deps configure build run demo screenshots test bench format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

# The window when there is a display to show it on; otherwise the command-line demo.
run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): running the command-line demo instead."; \
	  $(MAKE) --no-print-directory demo; \
	elif [ ! -x $(BUILD_DIR)/ui/plimsy ]; then \
	  echo "The window was not built (Qt 6 is missing): running the command-line demo instead."; \
	  $(MAKE) --no-print-directory demo; \
	else \
	  $(BUILD_DIR)/ui/plimsy; \
	fi

demo: build
	@$(BUILD_DIR)/cli/plimsy-cli zip examples/sample-book $(BUILD_DIR)/sample.epub --no-backup
	@echo
	@echo "Written: $(BUILD_DIR)/sample.epub"

# Draws both dialogs under Xvfb into docs/screenshots (for the README and the user guide).
screenshots: build
	@cmake --build $(BUILD_DIR) --target screenshots

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j2 $(CTEST_FLAGS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)
