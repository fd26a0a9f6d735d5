# Thin driver: CMake does the real build. Everything runs as root on a
# fresh Debian machine; missing tools are installed first.
BUILD   ?= build
WIN     := $(BUILD)/win
NATIVE  := $(BUILD)/native
PREFIX  := $(BUILD)/wineprefix
JOBS    ?= 2
WINE_RUN := sh cmake/wine-env.sh $(PREFIX)

.PHONY: all toolchain build native demo test bench fuzz clean

all: build

toolchain:
	@sh cmake/toolchain-install.sh

$(WIN)/CMakeCache.txt: | toolchain
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

build: toolchain $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

$(NATIVE)/CMakeCache.txt: | toolchain
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug

native: toolchain $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

demo: build
	$(WINE_RUN) wine $(WIN)/bin/trace_demo.exe $(DEMO_ARGS)

test: build native
	cd $(NATIVE) && ctest --output-on-failure
	$(WINE_RUN) ctest --test-dir $(WIN) --output-on-failure

bench: build
	$(WINE_RUN) wine $(WIN)/bin/trace_bench.exe --csv bench.csv $(BENCH_ARGS)
	@cp $(WIN)/bin/bench.csv $(BUILD)/bench.csv 2>/dev/null || true

# Fuzzing of the pure formatters: clang, libFuzzer, ASan and UBSan.
FUZZ     := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
fuzz: toolchain
	@sh cmake/fuzz-toolchain-install.sh
	cmake -S . -B $(FUZZ) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTRACELOG_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ) -j $(JOBS)
	sh tests/fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
