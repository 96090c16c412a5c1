# The two commands of the README:
#   make run   - install what is needed, build, start the bundled example game
#   make test  - install what is needed, build, run every test
# Other targets: build, asan (sanitizer build + tests), bench, clean.

BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: run test deps build asan bench clean

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# In a window when there is a display; otherwise headless for 240 frames,
# leaving a screenshot of the scene.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/talven examples/orbit; \
	else \
	  $(BUILD)/talven --headless --frames 240 --screenshot $(BUILD)/orbit.png examples/orbit; \
	  status=$$?; [ $$status -eq 0 ] || [ $$status -eq 124 ] || exit $$status; \
	  echo "no display: ran headless, screenshot in $(BUILD)/orbit.png"; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVEN_SANITIZE=ON -DTALVEN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@ls $(BUILD)/bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
