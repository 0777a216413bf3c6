# Front door. CMake does the building underneath:
#   build/stub  the cross-compiled Windows project (stub, Win32 test programs)
#   build/host  the native project (builder, unit tests, benchmarks)
# Finished programs land in build/: build/tvsfx32.exe (the stub) and build/tvsfx (the builder).

JOBS ?= 2
STUB_DIR := build/stub
HOST_DIR := build/host

.PHONY: all deps stub host test demo bench fuzz clean

all: stub host

deps:
	@bash scripts/install-deps.sh

stub: deps
	@cmake -S sfxhead -B $(STUB_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DTVSFX_OUT_DIR=$(CURDIR)/build >/dev/null
	@cmake --build $(STUB_DIR) -j $(JOBS) -- --no-print-directory

host: deps
	@cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release -DTVSFX_OUT_DIR=$(CURDIR)/build >/dev/null
	@cmake --build $(HOST_DIR) -j $(JOBS) -- --no-print-directory

test: all
	@bash scripts/run-tests.sh

demo: all
	@bash scripts/demo.sh

bench: all
	@bash scripts/bench.sh

fuzz: deps
	@bash scripts/fuzz.sh

clean:
	rm -rf build
