// libFuzzer target for the builder: the input is an input ZIP, built into a package as
// `tvsfx build` builds it (the real stub, names settled into code page 1252, data compressed,
// copied or encrypted, the package written) and read back with the checks `tvsfx test` runs:
// the start-up checks, the stub's walk and every entry through the stub's decoder.
// What the builder refuses must be refused with a BuildError, never a crash, a hang or an
// allocation beyond the input's size. A package that fails its own test is a disagreement
// between writer and reader and aborts: without the round trip the builder would have
// reported success for it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "build.h"
#include "build_error.h"
#include "builder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BuildOptions options;
    options.input = place_in_memory_file(data, size);
    options.output = scratch_folder_path() + "/out.exe";
    options.stub = fuzz_stub_path();
    options.quiet = true;
    options.jobs = 1;
    // The fastest level and storing: the builder's code is the same at every level, and
    // level 12 would spend most of each run inside the compressor.
    options.level = size % 3 == 0 ? 0 : 1;
    // Every other input is written with --password, so the ciphers run under UBSan too:
    // AES for most, the traditional cipher for one in four.
    if (size % 2) {
        options.password = "secret";
        options.password_given = true;
        options.encryption = size % 4 == 1 ? "zipcrypto" : "aes256";
    }
    try {
        run_build(options);
    } catch (const SelfTestFailure& failure) {
        fprintf(stderr, "the builder wrote a package its own test rejects: %s\n", failure.message().c_str());
        abort();
    } catch (const BuildError&) {
    }
    unlink(options.output.c_str());
    return 0;
}
