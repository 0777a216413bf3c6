// libFuzzer target for the builder's stub reader: the input is a --stub. A stub the reader
// accepts gets the attached section added to its headers, as a build does.
#include <stdint.h>

#include <vector>

#include "build_error.h"
#include "pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    try {
        PeImage image = parse_pe_image(file, "stub");
        check_room_for_section(file, image, "stub");
        std::vector<uint8_t> headers(file.begin(), file.begin() + image.raw_end);
        add_attached_section(headers, image, plan_attached_section(image, 4096));
    } catch (const BuildError&) {
    }
    return 0;
}
