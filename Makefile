# Set-up and entry points. `make run` and `make test` install what is missing,
# configure, build, and then start Mirdex on the demo file or run every test.

PKGS := cmake ninja-build ccache g++ pkg-config make \
        qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins libgl-dev \
        libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev \
        libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev zlib1g-dev \
        clang libclang-rt-14-dev ffmpeg sox python3 binutils pulseaudio pulseaudio-utils \
        fonts-ipafont-gothic qt6-translations-l10n

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
BUILD := build
TEST_BUILD := build-test
CMAKE_COMMON := -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache

.PHONY: deps build build-test run test bench format clean fuzz-smoke

deps:
	@missing=$$(for p in $(PKGS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRDEX_TESTS=OFF

$(TEST_BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(TEST_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DMIRDEX_SANITIZE=ON -DMIRDEX_TESTS=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-test: deps $(TEST_BUILD)/build.ninja
	cmake --build $(TEST_BUILD) -j $(JOBS)

run: build
	$(BUILD)/tools/mkdemo $(BUILD)/demo/demo.avi
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: cannot open Mirdex's window; here is its report of the demo file instead."; \
	  $(BUILD)/src/app/mirdex --report $(BUILD)/demo/demo.avi || true; \
	else \
	  $(BUILD)/src/app/mirdex $(BUILD)/demo/demo.avi; \
	fi

test: build-test
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen MX_REQUIRE_SOUND=1 ../tests/with-sound-server.sh \
	  ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz-smoke

# A short run of every fuzz target (clang + libFuzzer) in its own
# build folder; FUZZ_SECONDS=600 make fuzz-smoke runs them for longer.
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 30
fuzz-smoke: deps
	@[ -f $(FUZZ_BUILD)/build.ninja ] || cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRDEX_TESTS=OFF -DMIRDEX_FUZZ=ON
	cmake --build $(FUZZ_BUILD) --target avi_fuzz_seeds avi_reader_fuzz convert_fuzz bmp_header_fuzz wave_fmt_fuzz wave_fuzz \
	  profile_fuzz reference_fuzz marks_fuzz -j $(JOBS)
	tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	bench/run.sh $(BUILD)

format:
	find src tests bench tools \( -name "*.cpp" -o -name "*.h" \) -print0 | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
