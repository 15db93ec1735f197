# The two commands of the README. Both install what is missing and build first.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DVELMAR_WERROR=ON
endif

.PHONY: all deps build build-asan test test-normal test-asan demo bench fuzz \
        install package clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DVELMAR_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --no-tests=error

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --no-tests=error

test: test-normal test-asan

# cmake --install honours DESTDIR; PREFIX overrides the configured prefix
# (/usr/local unless CMAKE_FLAGS says otherwise).
install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The .deb packages (under /usr) land in $(BUILD)/packages.
package: build
	cd $(BUILD) && cpack -G DEB -B packages

demo: build
	@scripts/demo $(BUILD)

bench: build
	@bench/run

fuzz: deps
	@scripts/fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
