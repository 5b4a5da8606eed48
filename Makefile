# Two entry points: `make run` and `make test`. Both install missing Debian packages first.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# `make run` builds the app for a backend on this machine and starts that backend with it.
LOCAL_BACKEND_PORT ?= 8737
LOCAL_BACKEND_URL ?= http://127.0.0.1:$(LOCAL_BACKEND_PORT)
# libFuzzer targets (clang): seconds per target for `make fuzz` and for the short pass in `make test`.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_TEST_SECONDS ?= 20

.PHONY: deps configure build run test test-fast test-fuzz test-asan fuzz fuzz-coverage bench package clean

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROW_BACKEND_URL=$(LOCAL_BACKEND_URL) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zentrow zentrow-backend
	ZENTROW_BACKEND_PORT=$(LOCAL_BACKEND_PORT) scripts/run-local.sh $(BUILD_DIR)/zentrow

# The whole suite, a short fuzzing pass over the backend's parsers (skipped without clang), then
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer; last, the tests' share of
# the counted lines.
test: test-fast test-fuzz test-asan
	@scripts/count-lines.sh

# The desktop sessions of the end-to-end tests run one at a time and get a second try: a real
# panel that starts slowly on a loaded machine is not a fault of the app.
test-fast: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -E '^e2e/'
	cd $(BUILD_DIR) && ctest --output-on-failure -R '^e2e/' --repeat until-pass:2

test-fuzz: deps
	@fuzz/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_TEST_SECONDS)

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZENTROW_SANITIZE=ON -DZENTROW_BUILD_BENCH=OFF -DZENTROW_E2E_GNOME_WAYLAND=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS) -E '^e2e/'
	cd $(ASAN_DIR) && ctest --output-on-failure -R '^e2e/' --repeat until-pass:2

fuzz: deps
	@fuzz/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Source lines of the fuzzed backend files that the corpora (seeds and finds) reach.
fuzz-coverage: deps
	@fuzz/coverage-report.sh $(FUZZ_DIR)

bench: build
	@scripts/run-bench.sh $(BUILD_DIR)

# The Debian package, $(BUILD_DIR)/zentrow_<version>_<arch>.deb, installing under /usr, checked
# with lintian. `dpkg-buildpackage -b` builds the same package from a clean source tree.
package: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zentrow zentrow-backend
	scripts/build-deb.sh $(BUILD_DIR) $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(FUZZ_DIR)-coverage
