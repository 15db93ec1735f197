# The two commands of the README. Both install what is missing and build first.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
JOBS        ?= $(shell nproc)
# Most tests wait on sockets, timers and terminals, not on a CPU: twice as
# many run at once as there are CPUs (under emulation, one per CPU).
CTEST_JOBS  ?= $(shell echo $$(($(JOBS) * 2)))
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DVELMAR_WERROR=ON
endif

# Cross builds for the device: ARCH=arm64 or ARCH=armhf, into build-ARCH/,
# with the toolchain file of cmake/ (ctest runs the tests under qemu).
ARCH        ?=
ifneq ($(ARCH),)
BUILD       := build-$(ARCH)
CTEST_JOBS  := $(JOBS)
CMAKE_FLAGS += -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-$(ARCH).cmake
endif

.PHONY: all deps build build-asan test test-normal test-asan demo bench fuzz \
        install package clean cross test-cross cross-arch

all: build

deps:
	@scripts/install-deps $(ARCH)

build: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DVELMAR_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(CTEST_JOBS) --no-tests=error

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(CTEST_JOBS) --no-tests=error

test: test-normal test-asan

cross-arch:
	@case "$(ARCH)" in arm64|armhf) ;; \
	  *) echo "make: ARCH=arm64 or ARCH=armhf, please" >&2; exit 2;; esac

cross: cross-arch build

# Emulation is several times slower: the tests' own time-outs allow for it.
test-cross: cross-arch test-normal

# cmake --install honours DESTDIR; PREFIX overrides the configured prefix
# (/usr/local unless CMAKE_FLAGS says otherwise).
install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The .deb packages (under /usr) land in $(BUILD)/packages; with ARCH set,
# those of that architecture.
package: build
	cd $(BUILD) && cpack -G DEB -B packages

demo: build
	@scripts/demo $(BUILD)

bench: build
	@bench/run

fuzz: deps
	@scripts/fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz build-arm64 build-armhf
