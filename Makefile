# The two commands of the project:
#   make demo   builds the plug-in and runs the demo installer under Wine
#   make test   builds everything and runs every test
# Both install what they need first (Debian 12, as root).
# make dist writes the installer author's package, build/dist/tmnsisplug-<version>.zip.
BUILD ?= build
CMAKE_FLAGS = -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

.PHONY: all bootstrap build demo test fuzz dist bench clean

all: build

bootstrap:
	@./scripts/bootstrap.sh

build: bootstrap
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD)

demo: build
	./scripts/demo.sh $(BUILD)

# Two tests at a time: tests of one Wine prefix still run one after the
# other (each holds its prefix's resource lock), but the prefixes' tests
# overlap. Where this host cannot start 32-bit Windows programs, the tests
# that need one are skipped. The last line says what the run proved here.
TEST_JOBS ?= 2
test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$(TEST_JOBS) --output-junit $(abspath $(BUILD))/tests.xml; \
	  status=$$?; \
	  ./tests/e2e/proven_here.py $(BUILD)/tests.xml; exit $$status

# make fuzz FUZZ_SECONDS=600: the fuzz driver for that long, spread over its
# targets (tests/fuzz/run_fuzz.sh); what it finds is kept in the corpus.
FUZZ_SECONDS ?= 60
fuzz: build
	@./tests/fuzz/run_fuzz.sh $(BUILD) $(FUZZ_SECONDS)

# make dist SIGN_PFX=FILE [SIGN_PASSWORD_FILE=FILE] [SIGN_TIMESTAMP_URL=URL]
# signs the plug-ins in the package; the files are named by absolute path,
# as the package is made in the build folder.
dist: build
	SIGN_PFX='$(abspath $(SIGN_PFX))' SIGN_PASSWORD_FILE='$(abspath $(SIGN_PASSWORD_FILE))' \
	  SIGN_TIMESTAMP_URL='$(SIGN_TIMESTAMP_URL)' cmake --build $(BUILD) --target dist

# Makes the package from two clean clones of HEAD, and compares them.
.PHONY: dist-check
dist-check: build
	./tests/build/check_reproducible.py . $(BUILD) $(CMAKE_FLAGS)

bench: build
	./bench/run_bench.py --build-dir $(BUILD)
	./bench/cleanup_bench.py --build-dir $(BUILD)
	./bench/report_bench.py --build-dir $(BUILD)

clean:
	rm -rf $(BUILD)
