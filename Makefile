# Melodrift: the two commands a newcomer needs are `make demo` and `make test`.
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
BUILD     ?= build/release
ASAN      ?= build/asan
FUZZ      ?= build/fuzz
TSAN      ?= build/tsan
CMAKE_ARGS ?=
# Seconds each fuzz target runs under `make fuzz`.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := plugin_file voicebank wave edit_state cli

# Debian packages the build needs; `deps` installs only the missing ones.
PACKAGES := cmake g++ make pkg-config libicu-dev libfftw3-dev libsimpleini-dev \
            libcli11-dev libgtest-dev googletest libbenchmark-dev \
            qt6-base-dev qt6-multimedia-dev qt6-translations-l10n fonts-noto-cjk fontconfig xvfb xauth \
            clang libclang-rt-14-dev clang-format

# What bench/compare-praat.sh needs besides the build; the tests do not.
BENCH_PACKAGES := praat time

# The Windows build (`make windows`, `make test-windows`): the MinGW-w64 cross
# compiler, Wine to run its programs, and dpkg-dev for `apt-get source` (FFTW
# and Qt's qtbase). The headers, GoogleTest sources, Qt's host tools and
# Japanese translations, the Noto CJK fonts (and fontconfig, through which
# Wine finds them) and Xvfb come from PACKAGES.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine64 dpkg-dev ninja-build
# FFTW for Windows (fftw/), the cross build (build/) and Wine's prefix (build/wine).
WINDOWS ?= build/windows
WINDOWS_BUILD := $(WINDOWS)/build
WINDOWS_FFTW := $(abspath $(WINDOWS))/fftw
# Wine as ctest runs it (windows/mingw-w64.cmake): prefix in the build folder, quiet.
WINE_ENV := WINEPREFIX=$(abspath $(WINDOWS_BUILD))/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=

.PHONY: format-check all deps bench-deps windows-deps windows test-windows windows-package build build-asan build-tsan test test-release test-asan tsan demo bench compare-praat fuzz build-fuzz clean

all: build

deps: WANTED = $(PACKAGES)
bench-deps: WANTED = $(BENCH_PACKAGES)
windows-deps: WANTED = $(PACKAGES) $(WINDOWS_PACKAGES)
deps bench-deps windows-deps:
	@missing=""; for p in $(WANTED); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

$(ASAN)/CMakeCache.txt:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DMELODRIFT_SANITIZE=ON -DMELODRIFT_BENCH=OFF $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The suite runs twice: optimised, then Debug with the sanitizers.
test: test-release test-asan

# ThreadSanitizer over the tests of the layers that run threads (text,
# audio, editor, command line and the window's offscreen tests), optimised
# with debug information. Any report fails the test that caused it.
# tests/tsan.supp lists what is suppressed, each entry with its reason.
$(TSAN)/CMakeCache.txt:
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELODRIFT_TSAN=ON $(CMAKE_ARGS)

build-tsan: deps $(TSAN)/CMakeCache.txt
	cmake --build $(TSAN) -j $(JOBS)

tsan: build-tsan
	cd $(TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=7 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS)

demo: build
	examples/demo/run.sh $(BUILD)

$(FUZZ)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=Debug -DMELODRIFT_FUZZ=ON $(CMAKE_ARGS)

build-fuzz: deps $(FUZZ)/CMakeCache.txt
	cmake --build $(FUZZ) -j $(JOBS)

# The sources as .clang-format lays them out (clang-format -i on a file fixes it).
format-check: deps
	@git ls-files '*.cpp' '*.h' | grep -E '^(src|tests|bench|fuzz)/' | xargs clang-format --dry-run -Werror

# Each fuzz target for FUZZ_SECONDS, starting from the seeds in fuzz/seeds and
# the corpus it grew before (kept in $(FUZZ)/corpus). A crash, leak or hang
# stops the run (a run over 60 s counts as a hang: one command-line run
# analyses a short recording, about 1 s under the sanitizers on a busy
# machine); its input is left in $(FUZZ)/findings.
fuzz: build-fuzz
	@out="$(abspath $(FUZZ))"; mkdir -p "$$out/findings"; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p "$$out/corpus/$$t"; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  "$$out/fuzz/fuzz_$$t" -max_total_time=$(FUZZ_SECONDS) -timeout=60 -rss_limit_mb=2048 \
	    -max_len=65536 -print_final_stats=1 -artifact_prefix="$$out/findings/$$t-" \
	    "$$out/corpus/$$t" "$(CURDIR)/fuzz/seeds/$$t" 2>"$$out/$$t.log" || { tail -n 60 "$$out/$$t.log"; exit 1; }; \
	  grep -E "cov:" "$$out/$$t.log" | tail -n 1; \
	  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$$out/$$t.log"; \
	done

# Windows: the libraries, melodrift-cli.exe, the window melodrift.exe and
# every test program, built with MinGW-w64 as static .exe files (FFTW from
# Debian's source package, once per build folder; Qt's qtbase from Debian's
# source package, once per machine into a cache outside the clone:
# windows/build-qt.sh, which prints the cached prefix at once when it is
# there), then run through Wine by ctest. The command line's demo run and
# the window's Insert are compared byte for byte with the Linux build's.
VERSION := $(shell sed -n 's/^project.Melodrift VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WINDOWS_PACKAGE := $(WINDOWS)/melodrift-windows-$(VERSION).zip

$(WINDOWS_FFTW)/lib/libfftw3.a:
	windows/build-fftw.sh $(WINDOWS) $(JOBS)

# Configured again only when the Qt prefix changed (a changed build-qt.sh).
windows: windows-deps $(WINDOWS_FFTW)/lib/libfftw3.a
	@qt="$$(windows/build-qt.sh $(JOBS) | tail -n 1)"; [ -f "$$qt/.complete" ] || exit 1; \
	[ "$$(sed -n 's/^MELODRIFT_QT_PREFIX:[A-Z]*=//p' $(WINDOWS_BUILD)/CMakeCache.txt 2>/dev/null)" = "$$qt" ] || \
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/windows/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DMELODRIFT_GUI=ON -DMELODRIFT_BENCH=OFF -DMELODRIFT_QT_PREFIX="$$qt" \
	  -DMELODRIFT_FFTW_PREFIX=$(WINDOWS_FFTW) -DMELODRIFT_GTEST_SOURCE=/usr/src/googletest \
	  -DMELODRIFT_HEADER_ONLY_FROM=/usr/include \
	  -DMELODRIFT_REFERENCE_CLI=$(abspath $(BUILD))/src/cli/melodrift-cli \
	  -DMELODRIFT_REFERENCE_WINDOW=$(abspath $(BUILD))/src/app/melodrift $(CMAKE_ARGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Linux melodrift-cli and melodrift are the references the Windows ones
# are compared with.
test-windows: windows $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target melodrift-cli melodrift
	@# Wine's first start makes its prefix (about 6 s); once, before the tests.
	$(WINE_ENV) /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
	windows/wine-fonts.sh $(abspath $(WINDOWS_BUILD))/wine
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS); status=$$?; \
	  $(WINE_ENV) /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; exit $$status

# The zip a Windows user unpacks into UTAU's or OpenUtau's plug-in folder.
windows-package: windows
	windows/package.sh $(WINDOWS_BUILD) $(WINDOWS_PACKAGE)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x $$b ] && $$b; done

# Melodrift's commands against Praat's To Pitch (ac) on one generated
# 10-minute take, three rounds, with the ratios.
compare-praat: build bench-deps
	bench/compare-praat.sh $(BUILD) 600 3

clean:
	rm -rf build
