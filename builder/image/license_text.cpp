// The stub puts the licence into a read-only multi-line edit control: that control breaks lines
// only at CR LF, shows other control characters as boxes, and holds 64 KiB on every Windows.
#include "license_text.h"

#include "build_error.h"
#include "input_file.h"
#include "option_text.h"
#include "raw_deflate.h"
#include "text_encoding.h"

namespace {

std::string read_license_file(const std::string& path)
{
    uint64_t size = 0;
    FilePtr f = open_regular_file(path, "--license file", &size);
    // Even a UTF-8 text four times the stub's limit cannot shrink to fit it.
    if (size > uint64_t(4) * LICENSE_TEXT_MAX)
        fail("--license " + path + " is " + std::to_string(size) + " bytes; the licence page shows at most " +
             std::to_string(int(LICENSE_TEXT_MAX)));
    std::string text(static_cast<size_t>(size), '\0');
    if (std::fread(&text[0], 1, text.size(), f.get()) != text.size())
        fail("cannot read --license " + path + ": " + short_read_reason(f.get()));
    return text;
}

// A line of the licence (without its line end): a control character other than the tab is
// refused as in every option text, so DEL and U+0085 are as wrong here as in a version string.
void check_license_line(const std::string& path, const std::string& line, size_t number, bool raw_bytes)
{
    std::string control = find_control_character(line, MULTI_LINE, raw_bytes);
    if (!control.empty())
        fail("--license " + path + ": line " + std::to_string(number) +
             " holds a control character the licence page cannot show (" + control + ")");
}

// UTF-8 without its byte order mark, with CR LF line ends and no other control character
// than the tab.
std::string normalise_lines(const std::string& path, std::string text, bool raw_bytes)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::string lines, line;
    size_t number = 1;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : '\0';
        if (i < text.size() && c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        check_license_line(path, line, number, raw_bytes);
        lines += line;
        line.clear();
        if (i == text.size())
            break;
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines += "\r\n";
        ++number;
    }
    return lines;
}

}  // namespace

LicenseBlock make_license_block(const std::string& path, const std::string& codepage)
{
    std::string text = read_license_file(path);
    if (codepage != RAW_CODEPAGE && !is_valid_utf8(text))
        fail("--license " + path + " is not UTF-8 text; save it as UTF-8");
    text = to_stub_codepage(normalise_lines(path, text, codepage == RAW_CODEPAGE), codepage, "--license " + path);
    if (text.empty())
        fail("--license " + path + " is empty; leave out --license for a package without a licence page");
    if (text.size() > LICENSE_TEXT_MAX)
        fail("--license " + path + " becomes " + std::to_string(text.size()) + " bytes in code page " + codepage +
             " with CR LF line ends; the licence page shows at most " + std::to_string(int(LICENSE_TEXT_MAX)));

    LicenseBlock block;
    block.stored = deflate_raw(text.data(), text.size(), "the --license text");
    if (block.stored.size() > LICENSE_STORED_MAX)
        fail("cannot compress the --license text into " + std::to_string(int(LICENSE_STORED_MAX)) + " bytes");
    block.text_size = text.size();
    return block;
}

bool decode_license_block(const uint8_t* data, size_t size, std::string& text, std::string& error)
{
    std::vector<uint8_t> plain;
    if (!inflate_raw(data, size, LICENSE_TEXT_MAX, plain, error))
        return false;
    size_t produced = plain.size();
    text.assign(reinterpret_cast<const char*>(plain.data()), produced);
    text.resize(text.find('\0') == std::string::npos ? produced : text.find('\0'));
    return true;
}
