# The two entry points: `make run` and `make test`. Everything builds in build/.
BUILD := build
JOBS  := $(shell nproc 2>/dev/null || echo 2)
SAMPLE := samples/repository.xml
PACKAGES := cmake g++ make libgtest-dev googletest valgrind clang libclang-rt-14-dev \
            mingw-w64 wine wine64 xvfb xauth python3 man-db \
            icoutils zip unzip file chromium chromium-driver python3-selenium \
            bash-completion zsh fish
OPTIONAL_PACKAGES := wine32:i386
WIN32 := $(BUILD)/win32
WIN64 := $(BUILD)/win64
SANITIZE := $(BUILD)/sanitize
TSAN := $(BUILD)/tsan
FUZZ_SECONDS ?= 30

PREFIX ?= /usr/local
# The version is set in CMakeLists.txt alone.
VERSION := $(shell grep -o 'reposearch VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)

.PHONY: all build configure sanitize tsan-test windows windows-test run test deps bench fuzz soak install linux-dist deb dist clean

all: build

# Installs what the build and the tests need, when it is missing and we are
# root; 32-bit wine is optional (the Windows tests fall back to the 64-bit
# build), and a package index that cannot be fetched stops nothing.
deps:
	@tools/deps.sh $(PACKAGES) -- $(OPTIONAL_PACKAGES)

$(BUILD)/Makefile: CMakeLists.txt tests/CMakeLists.txt
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

# Configures again, so that what deps installed (GoogleTest) is found.
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, built
# with clang, and the fuzz targets.
$(SANITIZE)/Makefile: CMakeLists.txt tests/CMakeLists.txt
	CXX=clang++ cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DREPOSEARCH_SANITIZE=ON -DREPOSEARCH_FUZZ=ON -DFUZZ_SECONDS=$(FUZZ_SECONDS)

sanitize: $(SANITIZE)/Makefile
	cmake --build $(SANITIZE) -j $(JOBS)

# The engine suite under ThreadSanitizer (the export is read ahead on a second
# thread), and many exports searched at once.
$(TSAN)/Makefile: CMakeLists.txt tests/CMakeLists.txt
	CXX=clang++ cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREPOSEARCH_TSAN=ON

tsan-test: $(TSAN)/Makefile
	cmake --build $(TSAN) -j $(JOBS) --target engine_tests many_exports_tests differential_tests
	TSAN_OPTIONS=halt_on_error=1 $(TSAN)/tests/engine_tests --gtest_brief=1 --gtest_filter=-*BeyondFourGigabytes*
	TSAN_OPTIONS=halt_on_error=1 $(TSAN)/tests/many_exports_tests --gtest_brief=1
	TSAN_OPTIONS=halt_on_error=1 REPOSEARCH_DIFFERENTIAL_EXPORTS=6 $(TSAN)/tests/differential_tests --gtest_brief=1

# The Windows program (32-bit, static): build/win32/reposearch.exe, with the
# command line as reposearch-cli.exe and the engine tests.
windows: $(WIN32)/Makefile
	cmake --build $(WIN32) -j $(JOBS)

$(WIN32)/Makefile: CMakeLists.txt tests/CMakeLists.txt cmake/mingw32.cmake cmake/mingw.cmake
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release

$(WIN64)/Makefile: CMakeLists.txt tests/CMakeLists.txt cmake/mingw64.cmake cmake/mingw.cmake
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64.cmake -DCMAKE_BUILD_TYPE=Release

# The engine tests and the dialog tests under wine, in a virtual display. The
# 32-bit build runs where this machine can run 32-bit programs; the 64-bit
# build of the same sources runs everywhere.
windows-test: windows $(WIN64)/Makefile
	cmake --build $(WIN64) -j $(JOBS)
	export WINEDEBUG=-all WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix; \
	if /usr/lib/wine/wine --version >/dev/null 2>&1; then \
	  cd $(WIN32) && ctest --output-on-failure; \
	else \
	  echo "note: this machine cannot run 32-bit programs; testing the 64-bit Windows build only"; \
	  cd $(WIN64) && ctest --output-on-failure; \
	fi
	tests/e2e/windows_resources_check.sh $(WIN32) $(VERSION)
	tests/e2e/windows_resources_check.sh $(WIN64) $(VERSION)
	$(MAKE) dist
	tests/e2e/dist_check.sh $(VERSION)
	tests/e2e/deb_check.sh $(VERSION)

# Builds the program alone: no GoogleTest needed.
run: $(BUILD)/Makefile
	@cmake --build $(BUILD) -j $(JOBS) --target reposearch >/dev/null
	@./$(BUILD)/reposearch $(SAMPLE) custno invoice_total "calc_discount(" ; \
	status=$$?; echo "(exit status $$status; the log is samples/repository.log)"; [ $$status -le 1 ]

test: deps configure build sanitize
	@[ -x $(BUILD)/tests/engine_tests ] || { echo "the tests were not built: is GoogleTest installed?"; exit 1; }
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1 REPOSEARCH_DIFFERENTIAL_EXPORTS=6 ctest --output-on-failure -j $(JOBS)
	$(MAKE) tsan-test
	$(MAKE) windows-test

# Each fuzz target for FUZZ_TIME seconds (300 unless given), new inputs kept
# in $(SANITIZE)/fuzz-*.
FUZZ_TIME ?= 300
fuzz: deps sanitize
	for t in scanner search; do mkdir -p $(SANITIZE)/fuzz-$$t; \
	  $(SANITIZE)/$${t}_fuzz -max_total_time=$(FUZZ_TIME) -timeout=10 -rss_limit_mb=2048 \
	    $(SANITIZE)/fuzz-$$t fuzz/corpus/$$t || exit 1; done

# Random exports of every shape, up to 100 MB, searched every way and held
# against reading line by line for SOAK_TIME seconds; the seeds tried and
# any that differ are printed.
SOAK_TIME ?= 600
soak: $(BUILD)/Makefile
	@cmake --build $(BUILD) -j $(JOBS) --target soak make_export >/dev/null
	./$(BUILD)/soak $(SOAK_TIME)

# Speed against rg on synthetic exports of both shapes (BENCH_SIZE_MB each,
# BENCH_RUNS runs), after the micro-benchmarks of the matcher and the scanner.
BENCH_SIZE_MB ?= 1024
BENCH_RUNS ?= 5
bench:
	@command -v rg >/dev/null && [ -x /usr/bin/time ] && dpkg -s libbenchmark-dev >/dev/null 2>&1 || { \
	  [ "$$(id -u)" = 0 ] && apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ripgrep time libbenchmark-dev; }
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release && cmake --build $(BUILD) -j $(JOBS)
	./$(BUILD)/engine_bench --benchmark_min_time=0.2
	bench/run.sh $(BENCH_SIZE_MB) $(BENCH_RUNS)

# The program, its manual page and the completions for bash, zsh and fish
# under PREFIX (/usr/local), staged in DESTDIR when given.
install: $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS) --target reposearch
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# What we hand out, in dist/: the two 32-bit Windows programs with a README
# and the license in a zip, the Linux program (its C++ runtime linked in)
# with its manual page and completions in a tarball, and the same as a
# Debian package (dpkg-deb; DEB_MAINTAINER names its maintainer).
DIST := $(BUILD)/dist
# What the README's links reach, beside it in the tarball.
DOC_FILES := docs/GUIDE.md docs/DESIGN.md docs/README-windows.txt docs/print.png docs/report.png \
  docs/dialog.png docs/dialog-200.png docs/summary.png
linux-dist:
	cmake -S . -B $(DIST)/linux-build -DCMAKE_BUILD_TYPE=Release -DREPOSEARCH_TESTS=OFF \
	  -DREPOSEARCH_STATIC_RUNTIME=ON >/dev/null
	cmake --build $(DIST)/linux-build -j $(JOBS) --target reposearch

deb: linux-dist
	packaging/make-deb.sh $(DIST)/linux-build $(VERSION) dist

dist: windows deb
	rm -rf $(DIST)/win32 $(DIST)/linux && mkdir -p dist $(DIST)/win32/reposearch-$(VERSION) $(DIST)/linux
	cp $(WIN32)/reposearch.exe $(WIN32)/reposearch-cli.exe $(DIST)/win32/reposearch-$(VERSION)/
	sed 's/@VERSION@/$(VERSION)/; s/$$/\r/' docs/README-windows.txt > $(DIST)/win32/reposearch-$(VERSION)/README.txt
	sed 's/$$/\r/' LICENSE > $(DIST)/win32/reposearch-$(VERSION)/LICENSE.txt
	sed 's/$$/\r/' CHANGELOG.md > $(DIST)/win32/reposearch-$(VERSION)/CHANGELOG.txt
	sed 's/$$/\r/' docs/GUIDE.md > $(DIST)/win32/reposearch-$(VERSION)/GUIDE.txt
	rm -f dist/reposearch-$(VERSION)-win32.zip
	cd $(DIST)/win32 && zip -q -r -X -D ../../../dist/reposearch-$(VERSION)-win32.zip reposearch-$(VERSION)
	DESTDIR=$(CURDIR)/$(DIST)/linux cmake --install $(DIST)/linux-build --prefix /reposearch-$(VERSION) >/dev/null
	cp README.md LICENSE CHANGELOG.md $(DIST)/linux/reposearch-$(VERSION)/
	mkdir -p $(DIST)/linux/reposearch-$(VERSION)/docs
	cp $(DOC_FILES) $(DIST)/linux/reposearch-$(VERSION)/docs/
	tar -czf dist/reposearch-$(VERSION)-linux-x86_64.tar.gz -C $(DIST)/linux --owner=0 --group=0 reposearch-$(VERSION)
	@ls -l dist/reposearch-$(VERSION)-* dist/reposearch_$(VERSION)_*.deb

clean:
	rm -rf $(BUILD) dist
