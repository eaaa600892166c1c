# The front door: `make run` and `make test` do all the set-up they need.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
CTEST_FLAGS ?=
WIN_BUILD_DIR ?= build-win
# The window program that `make run` starts (ui/qt/CMakeLists.txt builds it);
# the test make_run_target checks that a build makes it here.
WINDOW_PROGRAM = $(BUILD_DIR)/ui/qt/plimsy

.PHONY: all deps configure build run print-window-program demo screenshots test package bench format clean \
        windows-deps windows-configure windows test-windows screenshots-windows

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
	elif [ ! -x $(WINDOW_PROGRAM) ]; then \
	  echo "The window was not built (Qt 6 is missing): running the command-line demo instead."; \
	  $(MAKE) --no-print-directory demo; \
	else \
	  $(WINDOW_PROGRAM); \
	fi

# Where `make run` looks for the window program (for the test make_run_target).
print-window-program:
	@echo $(WINDOW_PROGRAM)

demo: build
	@$(BUILD_DIR)/cli/plimsy-cli zip examples/sample-book $(BUILD_DIR)/sample.epub --no-backup
	@echo
	@echo "Written: $(BUILD_DIR)/sample.epub"

# Draws both dialogs under Xvfb into docs/screenshots (for the README and the
# user guide); the Windows program's too, when it has been built.
screenshots: build
	@cmake --build $(BUILD_DIR) --target screenshots
	@if [ -f $(WIN_BUILD_DIR)/ui/win32/plimsy.exe ]; then $(MAKE) --no-print-directory screenshots-windows; fi

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j2 $(CTEST_FLAGS)

# The Debian package dist/plimsy_<version>_amd64.deb: both programs, their
# manual pages, the desktop entry, icons, AppStream metadata, bash completion
# and the user guide (cmake/linux-package.cmake).
package: build
	@cd $(BUILD_DIR) && cpack -G DEB -D CPACK_OUTPUT_FILE_PREFIX="$(CURDIR)/dist"

# Windows x64, cross-built with MinGW-w64 into $(WIN_BUILD_DIR): `make windows`
# makes the portable zip dist/plimsy-<version>-win64.zip and the installer
# dist/plimsy-<version>-setup.exe; `make test-windows` builds the tests too
# and runs them under Wine. The first configure fetches Debian's expat source
# package into $(WIN_BUILD_DIR)/expat and builds it (cmake/expat-windows.cmake).
windows-deps:
	@scripts/install-deps.sh windows

windows-configure: windows-deps
	@cmake -S . -B $(WIN_BUILD_DIR) -G Ninja --no-warn-unused-cli --toolchain cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

windows: windows-configure
	@cmake --build $(WIN_BUILD_DIR) --target dist installer

# The Windows program's dialogs as Wine draws them, into docs/screenshots/windows-*.png.
screenshots-windows: windows-configure
	@cmake --build $(WIN_BUILD_DIR) --target plimsy
	@scripts/windows-screenshots.sh $(WIN_BUILD_DIR)/ui/win32/plimsy.exe docs/screenshots

# The wineserver is stopped whatever the tests did (CTest stops it too, unless
# it is interrupted).
test-windows: windows-configure
	@cmake --build $(WIN_BUILD_DIR)
	@status=0; ctest --test-dir $(WIN_BUILD_DIR) --output-on-failure -j2 -L 'unit|gui' $(CTEST_FLAGS) || status=$$?; \
	  scripts/wine-run --prefix $(WIN_BUILD_DIR)/wineprefix --stop; exit $$status

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(WIN_BUILD_DIR) dist
