# make demo / make test do the whole set-up on a fresh Debian machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan demo bench bench-peers clean

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

bench: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQUIRLON_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)

# Times quirlon-render against the peer box-shot pipelines; prints every speed goal as a ratio.
bench-peers: deps
	BUILD=$(BUILD) scripts/bench-peers
