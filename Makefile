# ctyset2: build, test and run on Debian/Ubuntu (see README.md).
SHELL := /bin/bash
PRESETS := native win64 win32
JOBS ?= 2
# Seconds per fuzz target: a short bounded run in `make test`, longer in `make fuzz`.
FUZZ_TEST_SECONDS ?= 15
FUZZ_SECONDS ?= 180

.PHONY: all deps build package test run bench fuzz format

all: build

deps:
	@bash tools/install-deps.sh

# Configure and build one preset: make build-native, build-win64, build-win32.
build-%:
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

build: $(addprefix build-,$(PRESETS)) package

# Windows Installer packages (package/), made from the builds of the two
# Windows trees: build/package/ctyset2-<version>-x64.msi and -x86.msi, and the
# Debian package of the command line, build/package/ctyset2_<version>_<arch>.deb.
# With SIGN_PFX=<certificate.pfx> SIGN_PASS_FILE=<password file> (and
# optionally SIGN_TIMESTAMP_URL) the Windows files are signed.
SIGN_PFX ?=
SIGN_PASS_FILE ?=
SIGN_TIMESTAMP_URL ?=
package: build-win64 build-win32
	cmake --preset package -DCTYSET2_SIGN_PFX="$(if $(SIGN_PFX),$(abspath $(SIGN_PFX)))" \
	  -DCTYSET2_SIGN_PASS_FILE="$(if $(SIGN_PASS_FILE),$(abspath $(SIGN_PASS_FILE)))" \
	  -DCTYSET2_SIGN_TIMESTAMP_URL="$(SIGN_TIMESTAMP_URL)"
	cmake --build --preset package -j $(JOBS)

# Every tree, every test; fails when anything fails, after running the rest.
# On a machine that cannot run 32-bit programs (or with CTYSET2_NO_32BIT=1)
# the i686 tree is built and checked statically and its Wine tests are skipped.
test: deps
	@bash tools/test-all.sh $(JOBS) $(FUZZ_TEST_SECONDS)

run: deps build-native build-win64
	@bash tools/run-applet.sh

# Speed targets and fuzzers: CTest label in the native tree plus scripts.
bench: build-native
	ctest --preset native -L bench --no-tests=ignore
	@for s in bench/*.sh; do [[ -e $$s ]] || continue; echo "== $$s"; bash $$s || exit 1; done

fuzz: build-native
	ctest --preset native -L fuzz --no-tests=ignore
	@for s in fuzz/*.sh; do [[ -e $$s ]] || continue; echo "== $$s"; bash $$s $(FUZZ_SECONDS) || exit 1; done

format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format -i
