# make demo / make test do the whole set-up on a fresh Debian machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan demo run screenshot install bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRLON_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

# Renders the first template to boxshot.png in the working folder.
demo: build
	$(BUILD)/cli/quirlon-render -t 1 -o boxshot.png
	@echo "$(CURDIR)/boxshot.png"

# Builds and starts the desktop window.
run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQUIRLON_WINDOW=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target quirlon
	$(BUILD)/app/quirlon

# Pictures the window after a render on a virtual display into docs/window.png.
screenshot: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQUIRLON_WINDOW=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target quirlon quirlon-screenshot
	mkdir -p docs
	xvfb-run -a -s "-screen 0 1024x768x24" $(BUILD)/app/quirlon-screenshot docs/window.png

# Installs into PREFIX (default /usr/local): programs and data in lib/quirlon, launchers in bin.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQUIRLON_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
