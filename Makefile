# Front door. CMake does the building underneath:
#   build/stub  the cross-compiled Windows project (stub, Win32 test programs)
#   build/host  the native project (builder, unit tests, benchmarks)
#   build/sanitize  the native project again with AddressSanitizer and UBSan (make sanitize)
# Finished programs land in build/: build/tvsfx32.exe (the stub) and build/tvsfx (the builder).

JOBS ?= 2
STUB_DIR := build/stub
HOST_DIR := build/host
SANITIZE_DIR := build/sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

.PHONY: all deps stub host wine64 test large test32 check-layers sanitize demo bench fuzz sweep clean

all: stub host

deps:
	@bash scripts/install-deps.sh

stub: deps
	@cmake -S sfxhead -B $(STUB_DIR) -DCMAKE_TOOLCHAIN_FILE="$(CURDIR)/cmake/mingw-i686.cmake" \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DTVSFX_OUT_DIR="$(CURDIR)/build" >/dev/null
	@cmake --build $(STUB_DIR) -j $(JOBS) -- --no-print-directory

host: deps
	@cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release -DTVSFX_OUT_DIR="$(CURDIR)/build" >/dev/null
	@cmake --build $(HOST_DIR) -j $(JOBS) -- --no-print-directory

# The same stub and Win32 test programs built for x86-64, with a copy of the builder beside
# them (build/wine64). Only for the Wine bench on machines whose kernel runs no 32-bit code:
# there it runs them under 64-bit Wine (scripts/run-tests.sh decides).
wine64: all
	@cmake -S sfxhead -B build/stub64 -DCMAKE_TOOLCHAIN_FILE="$(CURDIR)/cmake/mingw-x86_64.cmake" \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DTVSFX_OUT_DIR="$(CURDIR)/build/wine64" >/dev/null
	@cmake --build build/stub64 -j $(JOBS) -- --no-print-directory
	@cp build/tvsfx build/wine64/tvsfx

test: all
	@bash scripts/run-tests.sh

# The cases that take minutes and gigabytes of disk (a 5 GiB file, 70,000 files; native and
# Wine), skipped by `make test`. Each prints its timings. On the real 32-bit stub under the i386
# emulator: `make large LARGE_WINE=32emu` (the Wine cases only).
large: all
	@bash scripts/run-large.sh

# Every #include of the product code against the rooms' arrows in layers.txt (also a CTest,
# so `make test` runs it); names each file and include that goes against them.
check-layers:
	@/usr/bin/python3 scripts/check_layers.py

# The whole Wine suite on the real 32-bit stub; under the i386 emulator where the kernel runs no
# 32-bit code (about 15 minutes there on an idle machine). For releases and for changes whose
# 32-bit build differs.
test32: all
	@bash scripts/run-tests32.sh

# The native tests under AddressSanitizer and UBSan; not part of `make test` (slower, and a
# second full build). Its builder lands in build/sanitize/out beside a copy of the stub, so the
# builder tests run the sanitized builder on the real stub.
sanitize: stub
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)" -DTVSFX_OUT_DIR="$(CURDIR)/$(SANITIZE_DIR)/out" >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS) -- --no-print-directory
	@cp build/tvsfx32.exe $(SANITIZE_DIR)/out/
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_DIR) --output-on-failure

demo: all
	@bash scripts/demo.sh

bench: all
	@bash scripts/bench.sh

# Each fuzz target for FUZZ_SECONDS (default 60); the ZIP-input target builds with build/tvsfx32.exe.
fuzz: all
	@bash scripts/fuzz.sh

# Not part of test: runs 2,000 damaged self-extractors under Wine (SWEEP_ARGS="--cases 500").
sweep: all
	@bash scripts/sweep.sh $(SWEEP_ARGS)

clean:
	rm -rf build
