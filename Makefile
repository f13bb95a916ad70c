# ctyset2: build, test and run on Debian/Ubuntu (see README.md).
SHELL := /bin/bash
PRESETS := native win64 win32
JOBS ?= 2
# Seconds per fuzz target: a short bounded run in `make test`, longer in `make fuzz`.
FUZZ_TEST_SECONDS ?= 15
FUZZ_SECONDS ?= 180

.PHONY: all deps build test run bench fuzz format

all: build

deps:
	@bash tools/install-deps.sh

# Configure and build one preset: make build-native, build-win64, build-win32.
build-%:
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

build: $(addprefix build-,$(PRESETS))

# Every tree, every test; fails when anything fails, after running the rest.
test: deps
	@status=0; \
	for p in $(PRESETS); do \
	  echo "=== $$p ==="; \
	  if cmake --preset $$p && cmake --build --preset $$p -j $(JOBS); then \
	    if [[ $$p == native ]]; then ctest --preset $$p -j $(JOBS) || status=1; \
	      bash fuzz/run.sh $(FUZZ_TEST_SECONDS) || status=1; \
	    else ctest --preset $$p || status=1; \
	      bash cmake/wine-harness.sh cleanup $$p build/$$p >/dev/null || true; fi; \
	  else status=1; fi; \
	done; \
	if [[ $$status -ne 0 ]]; then echo "make test: FAILED"; else echo "make test: all passed"; fi; \
	exit $$status

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
