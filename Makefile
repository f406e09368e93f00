# make test: installs what is missing, builds the native, sanitizer and win32 presets, runs every suite, and
# checks the release artefacts.
# make demo: the kvox host on a short speech sample (see README.md).
# make web: the page build/web/kvox.html (see README.md); make test runs its browser tests too.
# make dist: the release artefacts in dist/ (see README.md).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
WINEPREFIX_DIR := $(CURDIR)/build/win32/wineprefix

.PHONY: test deps native native-asan win32 test-native test-native-asan test-win32 bench demo clean

test: deps test-native test-native-asan test-win32 test-dist

deps:
	@scripts/install-deps.sh

native:
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS)

native-asan:
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j$(JOBS)

win32:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j$(JOBS)

test-native: native
	ctest --preset native -j$(JOBS)

test-native-asan: native-asan
	ctest --preset native-asan -j$(JOBS)

# One wineserver for the whole suite; it is stopped however the run ends. Wine's own services are started
# first with their output detached: started by a test program they would inherit its output pipe and keep
# CTest waiting for them.
test-win32: win32
	scripts/wine-prefix.sh $(WINEPREFIX_DIR)
	export WINEPREFIX=$(WINEPREFIX_DIR); \
	wineserver -p </dev/null >/dev/null 2>&1; \
	scripts/wine-run cmd /c exit </dev/null >/dev/null 2>&1; \
	ctest --preset win32 -j$(JOBS); status=$$?; \
	wineserver -k >/dev/null 2>&1; exit $$status

# One table of every coding job with libsndfile and sox beside it, all from this run (bench/table.sh); the
# programs in build/native/bench give the details (bench/README.md).
bench: deps native
	@bench/table.sh build/native

# kvox convert -j 2 on an archive: 1,000 short raw files and ten one-hour files, with and without --report,
# and its peak memory by the number of files (bench/convert_bench.sh; figures in bench/README.md).
.PHONY: bench-convert
bench: bench-convert
bench-convert: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	bench/convert_bench.sh build/native/host/kvox

# kvox codes examples/speech.wav in all six codings and back and prints a table; the files stay in build/demo.
demo: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	examples/demo.sh build/native/host/kvox build/demo

clean:
	rm -rf build dist

# make dist: kestrovan-vox-VERSION-win32.zip, kvox_VERSION-1_amd64.deb and SHA256SUMS in dist/, built in
# trees of their own under build/dist. The same commit always gives the same bytes.
DIST_DIR ?= $(CURDIR)/dist
DIST_BUILD ?= $(CURDIR)/build/dist
DIST_AGAIN := $(CURDIR)/build/dist-again

.PHONY: dist test-dist
dist: deps
	JOBS=$(JOBS) packaging/dist.sh $(DIST_BUILD) $(DIST_DIR)

# The artefacts are built a second time in other trees, to show that they come out byte for byte the same,
# then checked: contents, versions, the packaged kvox run from an unpacked .deb, lintian.
test-dist: dist
	JOBS=$(JOBS) packaging/dist.sh $(DIST_AGAIN) $(DIST_AGAIN)/out >/dev/null
	tests/dist/check-dist.sh $(DIST_DIR) $(DIST_AGAIN)/out $(DIST_BUILD)

# make fuzz: every fuzz target for FUZZ_SECONDS seconds each under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, build/fuzz), then new corpus entries minimised into tests/fuzz/corpus.
# docs/fuzzing.md says how to run it for longer and what to do with a finding.
FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?= recognition reading writing dialog library

.PHONY: fuzz tsan
fuzz: deps
	cmake --preset native-fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target $(addsuffix _fuzzer,$(FUZZ_TARGETS))
	tests/fuzz/run-fuzzers.sh $(CURDIR)/build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# make tsan: the concurrency and soak suite under ThreadSanitizer, in a tree of its own (build/tsan).
tsan: deps
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
	  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
	  -DKVOX_BUILD_BENCH=OFF >/dev/null
	cmake --build build/tsan -j$(JOBS) --target soak_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" KVOX_SOAK_ROUNDS=500 build/tsan/tests/soak/soak_tests

# The page: one self-contained build/web/kvox.html (Debian's emscripten; web/). Its tests and benchmark
# drive Debian's Chromium headless with puppeteer-core (tests/web, bench/web_bench.mjs).
.PHONY: web test-web bench-web web-screenshot
test: test-web
bench: bench-web

web: deps
	cmake --preset web >/dev/null
	cmake --build --preset web -j$(JOBS)

test-web: web
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	node --test tests/web/page.test.mjs

bench-web: web
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	node bench/web_bench.mjs

# The npm package (build/web/npm, made by the web preset): its API against kvox on the same bytes, and its
# tarball installed into an empty folder (tests/npm).
.PHONY: test-npm bench-npm
test: test-npm
bench: bench-npm

test-npm: web
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	node --test tests/npm/

# The package beside the most used JavaScript G.711 package, in one Node.js run (bench/node holds its lock file).
# A second run puts glibc's large blocks (every one-hour result, ours and theirs) on transparent huge pages,
# which shows how much of a one-hour decode is the system handing over fresh memory (bench/README.md).
bench-npm: web
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	node --expose-gc bench/npm_bench.mjs
	GLIBC_TUNABLES=glibc.malloc.hugetlb=1 node --expose-gc bench/npm_bench.mjs

# docs/web.png: the page with a few files open.
web-screenshot: web
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox
	node tests/web/screenshot.mjs docs/web.png

# The Python package (python/): the extension built against the native tree's libkvox into
# build/native/python, its pytest suites run on Debian's Python (tests/python), its benchmark beside
# python-soundfile (bench/python_bench.py; figures in bench/README.md).
PYTHON := /usr/bin/python3
PY_BUILD := $(CURDIR)/build/native/python
PY_ENV := LD_LIBRARY_PATH=$(CURDIR)/build/native/libkvox PYTHONPATH=$(PY_BUILD)/lib
.PHONY: python test-python bench-python
test: test-python
bench: bench-python

python: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS) --target kvox_shared kvox
	cd python && KVOX_BUILD_DIR=$(CURDIR)/build/native $(PYTHON) setup.py -q build \
	  --build-base $(PY_BUILD) --build-lib $(PY_BUILD)/lib

test-python: python
	$(PY_ENV) KVOX_BUILD_DIR=$(CURDIR)/build/native $(PYTHON) -m pytest -q -p no:cacheprovider tests/python

bench-python: python
	$(PY_ENV) $(PYTHON) bench/python_bench.py $(CURDIR)/build/native/libkvox/libkvox.so.1

# The wheel and python3-kvox that make dist adds (packaging/make-python.sh), checked on the two builds
# test-dist made.
.PHONY: test-python-dist
test: test-python-dist
test-python-dist: test-dist
	tests/dist/check-python-dist.sh $(DIST_DIR) $(DIST_AGAIN)/out
