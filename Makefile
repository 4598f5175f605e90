# The two entry points: `make run` and `make test`. Everything builds in build/.
BUILD := build
JOBS  := $(shell nproc 2>/dev/null || echo 2)
SAMPLE := samples/repository.xml
PACKAGES := cmake g++ make libgtest-dev

.PHONY: all build run test deps bench clean

all: build

# Installs what the build and the tests need, when it is missing and we are root.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing packages (install them as root):" $$missing; exit 1; \
	  fi; \
	fi

$(BUILD)/Makefile: CMakeLists.txt tests/CMakeLists.txt
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/reposearch $(SAMPLE) custno invoice_total "calc_discount(" ; \
	status=$$?; echo "(exit status $$status; the log is samples/repository.log)"; [ $$status -le 1 ]

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed against rg and grep on a synthetic export (BENCH_SIZE_MB, BENCH_RUNS).
bench: build
	@command -v rg >/dev/null && [ -x /usr/bin/time ] || { \
	  [ "$$(id -u)" = 0 ] && apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ripgrep time; }
	bench/run.sh $(BENCH_SIZE_MB) $(BENCH_RUNS)

clean:
	rm -rf $(BUILD)
