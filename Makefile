# The two commands: `make run` and `make test`. Both install what is missing first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: all deps build build-test run test package screenshots clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@# Configured once; later builds re-run CMake by themselves when a CMake file changes.
	@[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO_SANITIZE=OFF >/dev/null
	@cmake --build build -j $(JOBS)

build-test: deps
	@[ -f build-test/build.ninja ] || cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELPO_SANITIZE=ON >/dev/null
	@cmake --build build-test -j $(JOBS)

# Two Debian packages in build/: kelpo and kelpo-server, checked with lintian.
package: build
	@cd build && cpack -G DEB >/dev/null
	@bash scripts/check-packages.sh build

run: build
	@bash scripts/run.sh

test: build-test
	@cd build-test && { xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS) \
		|| { bash ../scripts/failure-summary.sh; exit 1; }; }

screenshots: build
	@bash scripts/screenshots.sh

clean:
	rm -rf build build-test
