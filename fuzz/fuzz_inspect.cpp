// libFuzzer target for `tvsfx inspect`: the input is a built file, or what claims to be one.
// inspect reports; it must never crash, hang or allocate what the file only claims.
#include <stdint.h>
#include <stdio.h>

#include "build.h"
#include "builder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* quiet = freopen("/dev/null", "w", stdout);
    (void)quiet;
    run_inspect(place_in_memory_file(data, size), false);
    return 0;
}
