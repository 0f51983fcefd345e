# Entry points for newcomers and CI. `make demo` and `make test` install the
# Debian packages they need (as root, with apt-get) and build from scratch.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the conformance checks need.
PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libpugixml-dev python3 python3-pyvisa python3-pyvisa-py python3-serial \
            lxi-tools valgrind binutils help2man pkg-config libtirpc-dev rpcsvc-proto \
            python3-pytest python3-pip python3-setuptools python3-matplotlib python3-mypy
PACKAGES += python3-aiohttp chromium chromium-driver python3-selenium   # tarvek panel, its browser test
PACKAGES += libfuse3-dev fuse3   # the emulator's USB instrument: a usbtmc node served through FUSE
PACKAGES += libavahi-core-dev libcpp-httplib-dev iproute2   # LAN discovery: mDNS stack, the emulator's LXI web page, test networks

.PHONY: all deps build demo test test-release test-debug test-asan test-tsan test-fuzz fuzz \
        bench format clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:$$missing"; \
	  if [ "$$(id -u)" -ne 0 ]; then echo "Run as root (or install:$$missing)"; exit 1; fi; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DTARVEK_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD_DIR)

# Every preset the README documents is built and tested: release and debug with
# GCC, ASan+UBSan and TSan with GCC, and the fuzz targets with clang's libFuzzer.
# Most tests wait on peers, timeouts and child processes rather than compute,
# so three run per core; the fuzz targets compute and run one per core.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 3 )))
CTEST_FLAGS := --output-on-failure --timeout 300
CTEST := ctest $(CTEST_FLAGS) -j $(TEST_JOBS)

test-release: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cd build-release && $(CTEST)

test-debug: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)
	cd build-debug && $(CTEST)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	cd build-asan && $(CTEST) -LE nosan

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST) -LE 'nosan|fuzz'

# Only the fuzz targets (and what they link) are built with clang; each runs
# for a bounded time from its corpus.
test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS) --target fuzzers
	cd build-fuzz && ctest $(CTEST_FLAGS) -j $(JOBS) -L fuzz

test: test-release test-debug test-asan test-tsan test-fuzz

# A longer campaign: every target for FUZZ_SECONDS (default 5 minutes) each.
FUZZ_SECONDS ?= 300
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS) --target fuzzers
	fuzz/run_campaign.sh $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) build-release build-debug build-asan build-tsan build-fuzz
