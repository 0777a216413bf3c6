// The stub inflates the block into a fixed 4100-byte area from a fixed 1256-byte input
// area, so both limits are hard: the builder checks them here rather than trusting the
// field capacities to add up.
#include "config_block.h"

#include "build_error.h"
#include "raw_deflate.h"

std::vector<uint8_t> encode_config_block(const ConfigFields& fields)
{
    std::string plain;
    for (const std::string& field : fields) {
        plain += field;
        plain += '\0';
    }
    if (plain.size() > CONFIG_DECODED_MAX)
        fail("the configuration texts take " + std::to_string(plain.size()) + " bytes; the stub reads at most " +
             std::to_string(int(CONFIG_DECODED_MAX)));

    std::vector<uint8_t> block = deflate_raw(plain.data(), plain.size(), "the configuration block");
    if (block.size() > CONFIG_STORED_MAX)
        fail("the configuration texts compress to " + std::to_string(block.size()) + " bytes; the stub reads at most " +
             std::to_string(int(CONFIG_STORED_MAX)) + " (shorten --about, --info or --prompt)");
    return block;
}

bool decode_config_block(const uint8_t* data, size_t size, ConfigFields& fields, std::string& error)
{
    std::vector<uint8_t> plain;
    if (!inflate_raw(data, size, CONFIG_DECODED_MAX, plain, error))
        return false;
    size_t produced = plain.size();
    size_t at = 0;
    for (std::string& field : fields) {
        size_t end = at;
        while (end < produced && plain[end] != 0)
            ++end;
        if (end == produced) {
            error = "holds fewer than eight NUL-terminated strings";
            return false;
        }
        field.assign(reinterpret_cast<const char*>(plain.data() + at), end - at);
        at = end + 1;
    }
    return true;
}
