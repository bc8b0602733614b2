# make demo / make test do the whole set-up on a fresh Debian machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
BUILD_TSAN ?= build-tsan
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan test-tsan fuzz demo templates previews goldens gallery product-gallery turntable artwork run screenshot install bench bench-peers bench-batch bench-serve serve test-browser clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The engine, the codecs, the command line and the service under AddressSanitizer and
# UndefinedBehaviorSanitizer, with the picture corpus when it lies beside the tree. Left out to keep
# the whole check under half an hour on two cores: the window (its tests run in `make test`) and the
# seam sweeps, which run the same pixel loops as the rest at many sizes.
test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O2 -g1' \
	  -DQUIRLON_SANITIZE=ON -DQUIRLON_WINDOW=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS) -E 'ProductSeams|FacesMeet'

# The render's threads under ThreadSanitizer: the raster tests (the parallel loops and their helper
# thread) and the core tests that render, on one thread or several at once (sharing layers too),
# or turn a product on worker threads; the rest of the core tests run single-threaded code the
# other builds cover.
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRLON_SANITIZE_THREAD=ON -DQUIRLON_WINDOW=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target test_raster test_core
	TSAN_OPTIONS=halt_on_error=1 $(BUILD_TSAN)/tests/test_raster --gtest_brief=1
	TSAN_OPTIONS=halt_on_error=1 $(BUILD_TSAN)/tests/test_core --gtest_brief=1 \
	  --gtest_filter='ConcurrentRenderTest.*:RenderTest.*:RenderLimitsTest.*:TurntablePipeline.*:SmoothSampling.*:LayerCacheTest.*'

# Each libFuzzer target for FUZZ_SECONDS (clang; see scripts/fuzz); one at a time.
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) BUILD_FUZZ=$(BUILD_FUZZ) JOBS=$(JOBS) scripts/fuzz

# Renders the first template with its sample artwork to boxshot.png in the working folder.
DEMO_SOURCES = $(shell head -n 1 tools/previews.txt | cut -d'|' -f2 | tr ',' '\n' | sed 's/^/--source /')
demo: build
	$(BUILD)/cli/quirlon-render -t 1 $(DEMO_SOURCES) -o boxshot.png
	@echo "$(CURDIR)/boxshot.png"

# The bundled templates (data/Templates), tools/previews.txt and the template table of
# data/Docs/index.html, written by tools/TemplateGen.cpp from the product scenes it lists.
templates: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quirlon-templates
	$(BUILD)/tools/quirlon-templates

# Template previews (240 x 180) into the repository's data/Pics; the build keeps its own copy
# beside the executables up to date by itself.
previews: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target previews
	rm -f data/Pics/*.jpg
	cp $(BUILD)/cli/Pics/*.jpg data/Pics/

# Every template with a picture per slot: template NN at W x H to DIR/NN.png (the sample artwork
# of tools/previews.txt). Used by the goldens and the gallery.
define render_templates
	while IFS='|' read -r name pairs; do \
	  set -- ; for p in $$(echo "$$pairs" | tr ',' ' '); do set -- "$$@" --source "$$p"; done; \
	  $(BUILD)/cli/quirlon-render --templates data/Templates -t "$$name" "$$@" --width $(2) --height $(3) $(4) \
	    -o "$(1)/$$name.png" || exit 1; \
	done < tools/previews.txt
endef

# Reference renders for the golden test; rewrite them only on purpose and review with git diff.
GOLDENS = "01 Software box left" "08 CD jewel case" "10 Disc"
goldens: build
	rm -rf $(BUILD)/goldens && mkdir -p $(BUILD)/goldens
	$(call render_templates,$(BUILD)/goldens,400,300,)
	for n in $(GOLDENS); do cp "$(BUILD)/goldens/$$n.png" "tests/golden/$$n.png"; done

# docs/gallery.png (every template, numbered and named) and docs/transparent.png.
gallery: build
	rm -rf $(BUILD)/gallery && mkdir -p $(BUILD)/gallery
	$(call render_templates,$(BUILD)/gallery,280,210,)
	set -- ; for f in $(BUILD)/gallery/*.png; do n=$$(basename "$$f" .png); set -- "$$@" "$$f" "$$n"; done; \
	  $(BUILD)/tools/quirlon-artwork gallery docs/gallery.png 4 "$$@"
	$(BUILD)/cli/quirlon-render --templates data/Templates -t 2 $$(sed -n 2p tools/previews.txt | cut -d'|' -f2 | tr ',' '\n' | sed 's/^/--source /') \
	  --transparent --width 480 --height 360 -o docs/transparent.png

# docs/products.png: one paperback from its dimensions at three page counts and three angles.
# One spine picture serves books of 100 to 800 pages: it is stretched over each, as a cover
# designer's would be redrawn, rather than cropped to a sliver.
PRODUCT_ART = --source front=examples/book-front.jpg --source side=examples/book-spine.jpg --fit stretch --quiet
product-gallery: build
	rm -rf $(BUILD)/products && mkdir -p $(BUILD)/products
	set -- ; for view in "100 30 14" "400 30 14" "800 30 14" "400 -35 12" "400 0 4" "400 50 24"; do \
	  set -- $$view; n="$$1 pages, yaw $$2, pitch $$3"; \
	  $(BUILD)/cli/quirlon-render --product paperback --size 127x203mm --pages $$1 --paper cream --yaw $$2 --pitch $$3 \
	    $(PRODUCT_ART) --width 320 --height 240 -o "$(BUILD)/products/$$n.png" || exit 1; \
	done
	set -- ; for f in $(BUILD)/products/*.png; do set -- "$$@" "$$f" "$$(basename "$$f" .png)"; done; \
	  $(BUILD)/tools/quirlon-artwork gallery docs/products.png 3 "$$@"

# Sample artwork, the "customfile" pictures and the about box logo, drawn by our own tool.
turntable: build
	$(BUILD)/cli/quirlon-render --product paperback $(PRODUCT_ART) --turntable 24 --width 320 --height 240 \
	  --quality 80 -o docs/turntable.webp

artwork: build
	$(BUILD)/tools/quirlon-artwork samples examples data/custom
	$(BUILD)/tools/quirlon-artwork logo data/Data/Logo.jpg

# Builds and starts the render service and its web page on http://127.0.0.1:8080/.
serve: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quirlon-serve
	$(BUILD)/cli/quirlon-serve --listen 127.0.0.1:8080

# The web page in headless Chromium (installed when missing): upload, slider, download, and
# docs/service.png.
test-browser: deps $(BUILD)/CMakeCache.txt
	JOBS=$(JOBS) scripts/test-browser $(BUILD)

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
	xvfb-run -a -s "-screen 0 1024x768x24" $(BUILD)/app/quirlon-screenshot docs/window-large.png 960x720

# Installs into PREFIX (default /usr/local): programs and data in lib/quirlon, launchers in bin.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQUIRLON_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_TSAN)

# Times quirlon-render against the peer box-shot pipelines; prints every speed goal as a ratio.
bench-peers: deps
	BUILD=$(BUILD) scripts/bench-peers

# 200 jobs as one --batch run against 200 processes two at a time; prints jobs/s and the ratio.
bench-batch: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quirlon-render
	scripts/bench-batch $(BUILD) 3

# The render service with 8 clients against --batch on the same 800 x 600 JPEG jobs, latency
# against a single run, memory over 1,000 requests; loopback only.
bench-serve: deps $(BUILD)/CMakeCache.txt
	JOBS=$(JOBS) scripts/bench-serve $(BUILD) 3 200
