# The two commands of the README:
#   make run   - install what is needed, build, start the bundled example game
#   make test  - install what is needed, build, run every test
# Other targets: build, asan (sanitizer build + tests), bench, fuzz, fuzz-run,
# fuzz-smoke (CI: each fuzz target for a few seconds), install, deb, clean,
# windows (cross build and zip for 64-bit Windows), windows-test (its tests
# under Wine).

BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2
CMAKE_FLAGS ?=
# WERROR=ON turns every compiler warning into an error (CI builds so).
WERROR ?= OFF

FUZZ_BUILD ?= build-fuzz
WINDOWS_BUILD ?= build-windows
SECONDS ?= 60
SMOKE_SECONDS ?= 5

# Where `make install` puts talven; DESTDIR (empty) is put in front of every
# installed path, for staging.
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: run test deps build asan bench fuzz fuzz-run fuzz-smoke soak install deb clean windows windows-test

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEN_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Builds Firefly Night's release (data in archives) and starts it in a window
# when there is a display; otherwise plays its recorded demo headless for 560
# frames, leaving a screenshot of the round.
run: build
	@python3 examples/firefly/make_release.py $(BUILD)/talven $(BUILD)/firefly
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/talven $(BUILD)/firefly; \
	else \
	  $(BUILD)/talven --headless --frames 560 --input examples/firefly/demo.txt \
	    --screenshot $(BUILD)/firefly.png $(BUILD)/firefly; \
	  status=$$?; [ $$status -eq 0 ] || [ $$status -eq 124 ] || exit $$status; \
	  echo "no display: ran headless, screenshot in $(BUILD)/firefly.png"; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVEN_SANITIZE=ON -DTALVEN_BENCH=OFF -DTALVEN_WERROR=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang, address and undefined-behaviour sanitizers) in
# $(FUZZ_BUILD)/fuzz/, with seed corpora made from the project's own files.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEN_FUZZ=ON -DTALVEN_WERROR=$(WERROR)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/fuzz-seeds $(FUZZ_BUILD)/talven $(FUZZ_BUILD)/seeds

# Runs every target in turn for SECONDS seconds each; new inputs that find
# coverage are kept in $(FUZZ_BUILD)/corpus/NAME, crashes in $(FUZZ_BUILD)/crashes.
fuzz-run: fuzz
	@f=$(abspath $(FUZZ_BUILD)); mkdir -p $$f/crashes; \
	for t in $$f/fuzz/fuzz_*; do \
	  name=$${t##*/fuzz_}; mkdir -p $$f/corpus/$$name; \
	  echo "== $$name ($(SECONDS) s)"; \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp \
	  $$t -max_total_time=$(SECONDS) -timeout=10 -rss_limit_mb=4096 -artifact_prefix=$$f/crashes/$$name- \
	    $$f/corpus/$$name $$f/seeds/$$name 2>&1 | grep -aE '^#[0-9]+[[:space:]]*DONE|ERROR|SUMMARY' || true; \
	done

# CI's check that every target builds and survives its seeds and a few
# seconds of fuzzing (SMOKE_SECONDS each); fails on the first crash or hang,
# showing the end of its log. Corpora are thrown away afterwards.
fuzz-smoke: fuzz
	@f=$(abspath $(FUZZ_BUILD)); mkdir -p $$f/crashes; status=0; \
	for t in $$f/fuzz/fuzz_*; do \
	  name=$${t##*/fuzz_}; corpus=$$(mktemp -d); \
	  if LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp \
	     $$t -max_total_time=$(SMOKE_SECONDS) -timeout=10 -rss_limit_mb=4096 \
	     -artifact_prefix=$$f/crashes/$$name- $$corpus $$f/seeds/$$name >$$f/smoke-$$name.log 2>&1; then \
	    echo "fuzz-smoke $$name: $$(grep -aE '^#[0-9]+[[:space:]]*DONE' $$f/smoke-$$name.log | tail -1)"; \
	  else \
	    echo "fuzz-smoke $$name: FAILED"; tail -40 $$f/smoke-$$name.log; status=1; \
	  fi; \
	  rm -rf $$corpus; \
	done; exit $$status

# 32 script threads under a stall watchdog for SOAK_MINUTES (default 10),
# with the RSS curve, then SOAK_TRIALS (default 1000) saves killed midway and
# checked; not part of `make test`. SOAK_ONLY=threads or saves runs one half.
soak: build
	python3 soak/soak.py $(BUILD)/talven $(or $(SOAK_ONLY),both)

# Builds the benchmarks and prints one table of ratios (bench/summary.sh).
bench: build
	@bench/summary.sh $(BUILD)

# Installs bin/talven (stripped), the SDK headers (share/talven/sdk), the
# documentation with the tutorial's games (share/doc/talven), the manual page
# and the bash completion under PREFIX.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

# Builds the Debian package $(BUILD)/packages/talven_VERSION_ARCH.deb (the same
# files under /usr; dependencies from the binary's libraries).
deb: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/packages/*.deb

# Cross build for 64-bit Windows with MinGW-w64: the libraries are built from
# Debian's source packages into a cache outside the tree (scripts/windows-deps),
# then talven.exe, packed with the DLLs it loads into
# $(WINDOWS_BUILD)/talven-windows-x64.zip.
windows:
	@scripts/windows-deps
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEN_BENCH=OFF \
	  -DTALVEN_WERROR=$(WERROR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DTALVEN_CROSS_PREFIX=$$(scripts/windows-deps --print-prefix) $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target talven
	scripts/windows-package $(WINDOWS_BUILD) $$(scripts/windows-deps --print-prefix)

# The Windows build's tests, run under Wine (scripts/wine-run). A test that
# fails is run once more: under Wine on a loaded machine, thread start-up
# and socket timing stretch far beyond Linux's (each run is shown).
windows-test: windows
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS) --repeat until-pass:2

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)
