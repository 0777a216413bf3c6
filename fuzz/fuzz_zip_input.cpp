// libFuzzer target for the builder's ZIP reader and writer: the input is an input ZIP. What
// the reader accepts is written into an archive as a build would (raw data copied, entry
// data verified on the way); what it refuses must be refused with a BuildError, never a
// crash, a hang or an allocation beyond the input's size.
#include <stdint.h>
#include <unistd.h>

#include "builder/archive.h"
#include "builder/build_error.h"
#include "builder/input.h"
#include "builder/names.h"
#include "builder/output_file.h"
#include "builder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string path = place_in_memory_file(data, size);
    std::string output = scratch_folder_path() + "/out.zip";
    set_scratch_folder(scratch_folder_path());
    try {
        // As a build does: the names read, then settled into the stub's code page.
        ArchiveInput input = read_input_zip(path, NameReading{});
        NameSettings names;
        names.codepage = DEFAULT_CODEPAGE;
        settle_entry_names(input.entries, names);
        OutputFile out(output);
        // Every other input is written with --password, so the ciphers run under UBSan too:
        // AES for most, the traditional cipher for one in four.
        EntryCipher cipher = size % 4 == 1 ? EntryCipher::zipcrypto : EntryCipher::aes256;
        write_archive(out, input.entries, input.comment, size % 2 ? "secret" : "", cipher, 0, 512);
        out.commit();
    } catch (const BuildError&) {
    }
    unlink(output.c_str());
    return 0;
}
