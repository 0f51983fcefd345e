# Entry points for newcomers and CI. `make demo` and `make test` install the
# Debian packages they need (as root, with apt-get) and build from scratch.

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the conformance checks need.
PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libpugixml-dev python3 python3-pyvisa python3-pyvisa-py python3-serial \
            lxi-tools valgrind binutils libtirpc-dev rpcsvc-proto pkg-config

.PHONY: all deps build demo test test-plain test-asan test-tsan bench format clean

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

test-plain: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEK_SANITIZE=address -DTARVEK_WERROR=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300 -LE nosan

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEK_SANITIZE=thread -DTARVEK_WERROR=ON
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) --timeout 300 -LE 'nosan|fuzz'

test: test-plain test-asan test-tsan

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)
