#include "names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <iterator>
#include <map>
#include <memory>
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>
#include <zlib.h>

#include "build_error.h"
#include "byte_buffer.h"
#include "extra_field.h"
#include "format/path_limits.h"
#include "text_encoding.h"

namespace {

bool host_uses_oem(uint16_t version_made_by)
{
    uint8_t host = uint8_t(version_made_by >> 8);
    return host == HOST_MSDOS || host == HOST_OS2_HPFS || host == HOST_NTFS || host == HOST_INFOZIP_NTFS ||
           host == HOST_VFAT;
}

// The system a ZIP entry was made on, for messages.
std::string host_name(uint16_t version_made_by)
{
    switch (uint8_t(version_made_by >> 8)) {
    case HOST_MSDOS: return "MS-DOS";
    case HOST_UNIX: return "Unix";
    case HOST_OS2_HPFS: return "OS/2";
    case HOST_NTFS: return "Windows (NTFS)";
    case HOST_INFOZIP_NTFS: return "Windows (NTFS, Info-ZIP)";
    case HOST_VFAT: return "Windows (VFAT)";
    case HOST_DARWIN: return "macOS";
    default: return "system " + std::to_string(version_made_by >> 8);
    }
}

// The ANSI code page of a non-DOS maker: the target's, so the bytes stand as they are.
std::string ansi_codepage(const NameReading& reading)
{
    return reading.ansi == RAW_CODEPAGE ? DEFAULT_CODEPAGE : reading.ansi;
}

uint32_t crc_of(const std::string& bytes)
{
    return uint32_t(crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

struct Iconv {
    iconv_t cd;
    Iconv(const std::string& to, const std::string& from) : cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

// Converts all of `text`; on a character the target lacks returns false with `bad_at` at it.
bool convert(const std::string& text, const std::string& to, const std::string& from, std::string& out,
             size_t& bad_at)
{
    Iconv conv(to, from);
    if (conv.cd == iconv_t(-1))
        fail("unknown code page " + to + " or " + from);
    std::vector<char> buffer(text.size() * 4 + 8);
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* put = buffer.data();
    size_t out_left = buffer.size();
    size_t result = iconv(conv.cd, &in, &in_left, &put, &out_left);
    if (result == size_t(-1) || in_left != 0) {
        bad_at = text.size() - in_left;
        return false;
    }
    // glibc counts characters it could only approximate; the stub needs them exact.
    if (result != 0) {
        bad_at = text.size();
        return false;
    }
    out.assign(buffer.data(), buffer.size() - out_left);
    // A character written as another one is no more exact: CP932 writes U+00A5 as 0x5C, which
    // reads as a backslash and would split the name into a folder and a file.
    std::string back;
    size_t ignored = 0;
    if (from == "UTF-8" && (!convert(out, "UTF-8", to, back, ignored) || back != text)) {
        size_t at = size_t(std::mismatch(text.begin(), text.end(), back.begin(), back.end()).first - text.begin());
        while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            --at;
        bad_at = at;
        return false;
    }
    return true;
}

// The UTF-8 character at `at`, and its code point in U+ form.
std::string describe_char(const std::string& utf8, size_t at)
{
    if (at >= utf8.size())
        return "a character";
    int32_t i = int32_t(at);
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(utf8.data()), i, int32_t(utf8.size()), c);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", unsigned(c < 0 ? 0xFFFD : c));
    return "\"" + printable_name(utf8.substr(at, size_t(i) - at)) + "\" (" + code + ")";
}

std::string from_codepage(const std::string& raw, const std::string& codepage, const std::string& how_read,
                          const std::string& label)
{
    std::string out;
    size_t bad_at = 0;
    if (!convert(raw, "UTF-8", codepage, out, bad_at))
        fail(label + ": the name's byte " + escape_text(raw.substr(bad_at, 1), ESCAPE_ALL_HIGH) +
             " has no meaning in code page " + codepage + " (" + how_read +
             "); give the code page the name was written in with --input-codepage");
    return out;
}

using Utf16 = std::u16string;

bool is_separator_char(char c)
{
    return c == '/' || c == '\\';
}

// __MACOSX/ holds the resource forks macOS puts beside each file; "._name" are AppleDouble
// companions. Windows users get nothing out of either.
bool is_macos_metadata(const std::string& name)
{
    if (name.compare(0, 9, "__MACOSX/") == 0 || name == "__MACOSX")
        return true;
    size_t slash = name.find_last_of('/', name.size() > 1 ? name.size() - 2 : 0);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return name.compare(start, 2, "._") == 0;
}

void leave_out_macos_metadata(std::vector<ArchiveEntry>& entries, const NameSettings& settings)
{
    if (settings.keep_macos_metadata)
        return;
    size_t before = entries.size();
    std::vector<ArchiveEntry> kept;
    for (ArchiveEntry& e : entries) {
        if (!is_macos_metadata(e.unicode_name))
            kept.push_back(std::move(e));
    }
    entries.swap(kept);
    if (entries.size() != before)
        note(std::to_string(before - entries.size()) +
             " macOS metadata entries (__MACOSX/, ._*) left out; --keep-macos-metadata keeps them");
}

std::string refusal_text(NameVerdict verdict, const char* where)
{
    switch (verdict) {
    case NAME_DEVICE:
        return "a part of the name is a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with "
               "\xC2\xB9 \xC2\xB2 \xC2\xB3 for the digit, CONIN$, CONOUT$): Windows would write to the device, not to "
               "a file";
    case NAME_STREAM:
        return "the name holds a character Windows does not allow in file names (':', which would name a "
               "file stream)";
    case NAME_FORBIDDEN_CHAR:
        return "the name holds a character Windows does not allow in file names (" +
               printable_name(std::string(1, *where)) + ")";
    case NAME_TRAILING_DOT_OR_BLANK:
        return "a part of the name ends in a dot or a blank, which Windows drops, so the file would get "
               "another name";
    default:
        return "";
    }
}

// Names the stub would make as a path longer than Windows allows, below an absolute folder.
bool is_absolute_folder(const std::string& folder)
{
    bool drive = folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
                 is_separator_char(folder[2]);
    return drive || (folder.size() >= 2 && is_separator_char(folder[0]) && is_separator_char(folder[1]));
}

// UTF-16 units: what Windows counts in paths on the NT family.
size_t utf16_units(const std::string& utf8)
{
    return to_utf16(utf8).size();
}

// The length of `folder` + separator + `name` (its one leading separator dropped), counted in
// bytes of the code page (--win9x) or in UTF-16 units of folder and name as the stub creates them.
void warn_about_path_length(const ArchiveEntry& e, const std::string& created, const NameSettings& settings)
{
    const std::string& folder = settings.win9x ? settings.target_folder : settings.target_folder_given;
    if (!is_absolute_folder(folder))
        return;
    // A --codepage raw folder may be bytes of any code page: each is at most one unit.
    auto length_of = [&](const std::string& text) {
        return settings.win9x || !is_valid_utf8(text) ? text.size() : utf16_units(text);
    };
    const std::string& name = settings.win9x ? e.name : created;
    size_t folder_part = length_of(folder) + (is_separator_char(folder.back()) ? 0 : 1);
    size_t name_part = length_of(name) - (is_separator_char(name[0]) ? 1 : 0);
    size_t length = folder_part + name_part;
    size_t limit = settings.win9x ? size_t(MAX_ENTRY_NAME) : size_t(MAX_LONG_PATH_UNITS);
    if (length > limit)
        warn(describe_entry(e) + ": below --folder its path has " + std::to_string(length) +
             " characters; Windows paths hold " + std::to_string(limit) + ", so the stub will stop there");
}

// The symbols of the OEM code page's upper half (CP437 0x80-0xFF) that are neither letters
// nor box-drawing or Greek: inside a word they are the letters of a Windows code page read in
// the OEM one ("K\xF6ln" in CP1252 reads as "K÷ln", "Espa\xF1a" as "Espa±a", "M\xFCller"
// as "Mⁿller").
const UChar32 oem_symbols[] = {
    0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1,
    0x00AB, 0x00BB, 0x221E, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0,
};

bool is_oem_symbol(UChar32 c)
{
    return std::find(std::begin(oem_symbols), std::end(oem_symbols), c) != std::end(oem_symbols);
}

// Between two letters of one word: an OEM symbol, or a sharp s after a capital and before a
// small letter (CP1252 "M\xE1laga" reads as "Mßlaga"; a German "STRAßE" stays unremarked).
bool misread_in_word(UChar32 before, UChar32 c, UChar32 after)
{
    if (!u_isalpha(before) || !u_isalpha(after))
        return false;
    return is_oem_symbol(c) || (c == 0x00DF && u_isupper(before) && u_islower(after));
}

// A character that a byte 0x80-0xFF of a name that is not Unicode gives only when it was read
// in an OEM code page the name was not written in: box-drawing and Greek characters anywhere,
// OEM symbols inside a word. The offset of the first, or npos.
size_t misread_char_at(const std::string& utf8)
{
    int32_t i = 0, size = int32_t(utf8.size());
    UChar32 before = 0, c = 0;
    int32_t start = 0;
    while (i < size) {
        int32_t next_start = i;
        UChar32 next;
        U8_NEXT(reinterpret_cast<const uint8_t*>(utf8.data()), i, size, next);
        if ((next >= 0x0370 && next <= 0x03FF) || (next >= 0x2500 && next <= 0x259F))
            return size_t(next_start);
        if (misread_in_word(before, c, next))
            return size_t(start);
        before = c;
        c = next;
        start = next_start;
    }
    return std::string::npos;
}

// A name that was not given as Unicode: its bytes and the reading they got.
std::string describe_read_entry(const ArchiveEntry& e)
{
    return e.origin + ": entry \"" + escape_text(e.name, ESCAPE_QUOTE | ESCAPE_ALL_HIGH) + "\" (read as \"" +
           printable_name(e.unicode_name) + "\": " + e.name_reading + ")";
}

const char* const MISREAD_HINT = "box-drawing and Greek characters, or symbols inside a word (\xC3\xB7, \xC2\xB1), "
                                 "from the bytes of a name not flagged as Unicode mean the reading is probably wrong";
const char* const INPUT_CODEPAGE_HINT = "give the code page the name was written in with --input-codepage (e.g. "
                                        "--input-codepage CP1252 for Western European Unix and Windows names, CP850 "
                                        "for German MS-DOS)";

// The Unicode name as the input gave it, composed or decomposed: a Unicode Path field (the
// central one first, as the name was read), or bytes flagged or taken as UTF-8. A name read in
// a code page has no other form than its reading. Whatever form is found must lead back, in
// NFC, to the name that was checked.
std::string unicode_as_given(const ArchiveEntry& e)
{
    std::string given = find_unicode_path(e.central_extra, e.name);
    if (given.empty())
        given = find_unicode_path(e.local_extra, e.name);
    if (given.empty() && e.name_reading.empty() && is_valid_utf8(e.name))
        given = e.name;
    if (!given.empty() && is_separator_char(e.unicode_name.back()) && !is_separator_char(given.back()))
        given += '/';  // a folder by its attribute
    return !given.empty() && to_nfc(given) == e.unicode_name ? given : e.unicode_name;
}

// A name that the code page lacks goes on as Unicode for the NT family, unless --win9x asks for
// the code page or it was read in a code page and looks misread (then the reading is the fault).
bool keeps_unicode(const ArchiveEntry& e, const NameSettings& settings)
{
    return !settings.win9x && (e.name_reading.empty() || misread_char_at(e.unicode_name) == std::string::npos);
}

// The bytes the stub reads as the entry's name, and whether they are UTF-8 (and so flagged).
struct StubName {
    std::string bytes;
    bool utf8 = false;
};

StubName to_stub_name(const ArchiveEntry& e, const NameSettings& settings)
{
    if (settings.codepage == RAW_CODEPAGE || is_ascii(e.unicode_name))
        return {settings.codepage == RAW_CODEPAGE ? e.name : e.unicode_name, false};
    std::string stored;
    size_t bad_at = 0;
    if (convert(e.unicode_name, settings.codepage, "UTF-8", stored, bad_at))
        return {stored, false};
    if (keeps_unicode(e, settings))
        return {unicode_as_given(e), true};
    std::string lacking = "the character " + describe_char(e.unicode_name, bad_at) + " has no place in code page " +
                          settings.codepage;
    // The target code page is the fix only for a name that really is Unicode; for bytes read
    // in some code page the reading is the likely fault, and --codepage would make it worse.
    if (e.name_reading.empty())
        fail(describe_entry(e) + ": " + lacking + "; give the code page of the Windows systems it is meant for with "
             "--codepage (e.g. CP932 for Japanese, CP1251 for Cyrillic), or leave out --win9x to keep the name as "
             "Unicode for the NT family");
    bool misread = misread_char_at(e.unicode_name) != std::string::npos;
    fail(describe_read_entry(e) + ": " + lacking + "; " + (misread ? std::string(MISREAD_HINT) + ": " : "") +
         INPUT_CODEPAGE_HINT);
}

// A reading that the target code page holds can still be wrong (a --codepage CP437 package).
void warn_about_misreading(const ArchiveEntry& e)
{
    if (!e.name_reading.empty() && misread_char_at(e.unicode_name) != std::string::npos)
        warn(describe_read_entry(e) + ": " + MISREAD_HINT + "; " + INPUT_CODEPAGE_HINT);
}

// The name rules' view of UTF-8: no lead bytes (no byte of a character beyond ASCII is below
// 0x80, so none reads as a separator), and the superscript digits in their two bytes.
NameCodePage utf8_name_page()
{
    NameCodePage page = {};
    for (int i = 0; i < 3; ++i) {
        std::string bytes = to_utf8(Utf16(1, char16_t(SUPERSCRIPT_DIGITS[i])));
        std::memcpy(page.superscripts[i], bytes.data(), bytes.size());
    }
    return page;
}

// The longest folder or file name of a path and its length, both in UTF-16 units.
std::pair<std::string, size_t> longest_component(const std::string& name)
{
    std::pair<std::string, size_t> longest{"", 0};
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = std::min(name.find_first_of("/\\", start), name.size());
        std::string component = name.substr(start, end - start);
        size_t units = utf16_units(component);
        if (units > longest.second)
            longest = {component, units};
        start = end + 1;
    }
    return longest;
}

// On the NT family the stub joins the name to the target folder as a "\\?\" path; the name as
// it is created (`created`, UTF-8) must leave room for the shortest folder, each of its parts
// must fit a file system's names, and its bytes a ZIP header.
void check_long_name_length(const ArchiveEntry& e, const std::string& created, bool utf8, const std::string& codepage)
{
    size_t units = utf16_units(created);
    if (units > MAX_LONG_NAME_UNITS)
        fail(describe_entry(e) + ": the name has " + std::to_string(units) + " characters (UTF-16 units); below the " +
             "shortest target folder (C:\\) Windows paths hold " + std::to_string(int(MAX_LONG_PATH_UNITS)));
    std::pair<std::string, size_t> longest = longest_component(created);
    if (longest.second > MAX_NAME_COMPONENT_UNITS)
        fail(describe_entry(e) + ": its part \"" + printable_name(longest.first) + "\" has " +
             std::to_string(longest.second) + " characters (UTF-16 units); Windows file systems keep at most " +
             std::to_string(int(MAX_NAME_COMPONENT_UNITS)) + " in one folder or file name");
    if (e.name.size() > MAX_LONG_NAME_BYTES)
        fail(describe_entry(e) + ": the name has " + std::to_string(e.name.size()) + " bytes in " +
             (utf8 ? std::string("UTF-8") : "code page " + codepage) + "; a ZIP header holds at most " +
             std::to_string(int(MAX_LONG_NAME_BYTES)));
}

void check_stub_name(const ArchiveEntry& e, const StubName& stored, const NameSettings& settings)
{
    if (e.name.find('\0') != std::string::npos)
        fail(describe_entry(e) + ": the name holds a NUL byte");
    static const NameCodePage utf8_page = utf8_name_page();
    static std::map<std::string, NameCodePage> pages;
    auto page = pages.find(settings.codepage);
    if (page == pages.end())
        page = pages.emplace(settings.codepage, name_code_page_of(settings.codepage)).first;
    const char* where = nullptr;
    NameVerdict verdict = check_entry_name(e.name.c_str(), stored.utf8 ? &utf8_page : &page->second, &where);
    if (verdict == NAME_LEAVES_TARGET)
        warn(describe_entry(e) + " would leave the target folder: the stub stops the extraction there");
    else if (verdict != NAME_OK)
        fail(describe_entry(e) + ": " + refusal_text(verdict, where));
    if (!settings.win9x)
        check_long_name_length(e, stored.utf8 ? e.name : e.unicode_name, stored.utf8, settings.codepage);
    else if (e.name.size() > MAX_ENTRY_NAME)
        fail(describe_entry(e) + ": the name has " + std::to_string(e.name.size()) + " bytes in code page " +
             settings.codepage + "; the stub takes at most " + std::to_string(int(MAX_ENTRY_NAME)));
}

// One line for the vendor of a package for the NT family: which names Windows 95/98/ME may
// not extract, and how to hear of them at build time instead.
void warn_about_nt_only_names(const std::vector<ArchiveEntry>& entries, const NameSettings& settings)
{
    if (settings.win9x)
        return;
    size_t count = 0;
    const ArchiveEntry* first = nullptr;
    for (const ArchiveEntry& e : entries) {
        if (needs_nt_family(e.name, e.gp_flags)) {
            first = first != nullptr ? first : &e;
            ++count;
        }
    }
    if (count != 0)
        warn(std::to_string(count) + " entry names need the NT family (Windows NT 4 to 11), the first " +
             describe_entry(*first) + ": they have characters beyond code page " + settings.codepage +
             " or more than " + std::to_string(int(MAX_ENTRY_NAME)) + " bytes, and Windows 95/98/ME stop at such " +
             "a name unless their own code page holds it and it fits their paths; --win9x refuses them here");
}

}  // namespace

namespace {

// The name with '/' for either separator and without a trailing one.
std::string separator_key(std::string name)
{
    while (!name.empty() && is_separator_char(name.back()))
        name.pop_back();
    for (char& c : name)
        c = c == '\\' ? '/' : c;
    return name;
}

// A file and a folder Windows takes for one name ("a" and "A/b"): the stub would meet the
// file where it has to create the folder.
void refuse_file_folder_collisions(const std::vector<ArchiveEntry>& entries)
{
    std::map<std::string, size_t> files;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].unicode_name.empty() && !entries[i].is_directory())
            files.emplace(windows_name_key(separator_key(entries[i].unicode_name)), i);
    }
    for (const ArchiveEntry& e : entries) {
        if (e.unicode_name.empty())
            continue;
        std::string key = separator_key(e.unicode_name);
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            auto file = files.find(windows_name_key(key.substr(0, slash)));
            if (file == files.end())
                continue;
            const std::string& file_name = entries[file->second].unicode_name;
            bool by_case = separator_key(file_name) != key.substr(0, slash);
            fail(describe_entry(e) + " needs a folder where \"" + printable_name(file_name) + "\" is a file" +
                 (by_case ? " (Windows does not tell upper and lower case apart)" : "") + "; rename one of them");
        }
    }
}

}  // namespace

void refuse_name_collisions(const std::vector<ArchiveEntry>& entries)
{
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].unicode_name.empty())
            continue;  // not known yet
        std::string key = separator_key(entries[i].unicode_name);
        auto found = seen.emplace(windows_name_key(key), i);
        if (found.second)
            continue;
        const ArchiveEntry& first = entries[found.first->second];
        std::string which = " (entries " + std::to_string(found.first->second + 1) + " and " + std::to_string(i + 1) + ")";
        if (first.unicode_name == entries[i].unicode_name)
            fail(describe_entry(entries[i]) + " appears twice" + which + "; Windows keeps only one file of that name");
        // The same path with another separator, or once as a file and once as a folder.
        if (separator_key(first.unicode_name) == key) {
            bool kinds_differ = first.is_directory() != entries[i].is_directory();
            auto kind = [&](const ArchiveEntry& e) {
                return kinds_differ ? e.is_directory() ? " (a folder)" : " (a file)" : "";
            };
            fail(describe_entry(entries[i]) + kind(entries[i]) + " and \"" + printable_name(first.unicode_name) + "\"" +
                 kind(first) + which + " name the same path; Windows keeps only one file or folder of that name");
        }
        fail(describe_entry(entries[i]) + " and \"" + printable_name(first.unicode_name) +
             "\" name the same file on Windows, which does not tell upper and lower case apart");
    }
    refuse_file_folder_collisions(entries);
}

std::string describe_entry(const ArchiveEntry& e)
{
    return e.origin + ": entry \"" + printable_name(e.unicode_name.empty() ? e.name : e.unicode_name) + "\"";
}

std::string to_nfc(const std::string& utf8)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    Utf16 text = to_utf16(utf8);
    Utf16 out(text.size() * 3 + 1, 0);
    int32_t length = unorm2_normalize(nfc, text.data(), int32_t(text.size()), &out[0], int32_t(out.size()), &status);
    if (U_FAILURE(status))
        fail("cannot normalise a name");
    out.resize(size_t(length));
    return to_utf8(out);
}

std::string windows_name_key(const std::string& utf8)
{
    Utf16 text = to_utf16(utf8);
    // Windows upper-cases one UTF-16 unit at a time; characters outside the BMP stay.
    for (UChar& c : text) {
        if (!U16_IS_SURROGATE(c))
            c = UChar(u_toupper(c));
    }
    return to_utf8(text);
}

namespace {

// The lead bytes of an iconv converter from the code page: a lead byte alone is an incomplete
// character, for which iconv asks for more input.
void find_lead_bytes(Iconv& conv, NameCodePage& page)
{
    for (int c = 0x80; c <= 0xFF; ++c) {
        char in[1] = {char(c)};
        char out[8];
        char* in_ptr = in;
        char* out_ptr = out;
        size_t in_left = 1, out_left = sizeof out;
        iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(conv.cd, &in_ptr, &in_left, &out_ptr, &out_left) == size_t(-1) && errno == EINVAL)
            set_lead_byte(&page, uint8_t(c));
    }
}

// The superscript digits as the code page spells them, exactly (no stand-in '1').
void find_superscripts(const std::string& codepage, NameCodePage& page)
{
    for (int i = 0; i < 3; ++i) {
        std::string bytes;
        size_t bad_at = 0;
        if (convert(to_utf8(Utf16(1, UChar(SUPERSCRIPT_DIGITS[i]))), codepage, "UTF-8", bytes, bad_at) &&
            !bytes.empty() && bytes.size() < SUPERSCRIPT_CAPACITY)
            std::memcpy(page.superscripts[i], bytes.data(), bytes.size());
    }
}

}  // namespace

NameCodePage name_code_page_of(const std::string& codepage)
{
    NameCodePage page = {};
    if (codepage == RAW_CODEPAGE)
        return page;
    Iconv conv("UTF-16LE", codepage);
    if (conv.cd == iconv_t(-1))
        return page;
    find_lead_bytes(conv, page);
    find_superscripts(codepage, page);
    return page;
}

std::vector<uint8_t> unicode_path_field(const std::string& unicode, const std::string& stored)
{
    std::vector<uint8_t> f(9 + unicode.size());
    put_u16(f.data(), EXTRA_UNICODE_PATH);
    put_u16(f.data() + 2, uint16_t(5 + unicode.size()));
    f[4] = UNICODE_PATH_VERSION;
    put_u32(f.data() + 5, crc_of(stored));
    std::memcpy(f.data() + 9, unicode.data(), unicode.size());
    return f;
}

std::vector<uint8_t> without_unicode_path(const std::vector<uint8_t>& extra)
{
    std::vector<uint8_t> kept;
    bool parsed = for_each_extra(extra, [&](uint16_t id, const uint8_t*, size_t size, size_t at) {
        if (id != EXTRA_UNICODE_PATH)
            kept.insert(kept.end(), extra.begin() + long(at), extra.begin() + long(at + 4 + size));
    });
    return parsed ? kept : extra;
}

std::string find_unicode_path(const std::vector<uint8_t>& extra, const std::string& stored)
{
    std::string found;
    for_each_extra(extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t) {
        if (id == EXTRA_UNICODE_PATH && size > 5 && data[0] == UNICODE_PATH_VERSION && get_u32(data + 1) == crc_of(stored))
            found.assign(reinterpret_cast<const char*>(data + 5), size - 5);
    });
    return found;
}

std::string shown_name(const std::string& stored, uint16_t gp_flags, const std::vector<uint8_t>& local_extra,
                       const std::string& codepage)
{
    if ((gp_flags & GP_UTF8_NAME) && is_valid_utf8(stored))
        return stored;
    std::string unicode = find_unicode_path(local_extra, stored);
    if (!unicode.empty() || is_ascii(stored))
        return unicode.empty() ? stored : unicode;
    std::string out;
    size_t bad_at = 0;
    return convert(stored, "UTF-8", codepage, out, bad_at) ? out : stored;
}

namespace {

// The double-byte code pages whose second bytes include 0x5C ('\' in ASCII): Shift-JIS, GBK
// and Big5. (In Korean CP949 no second byte is below 0x41 or between 0x5B and 0x60.)
const char* const BACKSLASH_TRAIL_CODEPAGES[] = {"CP932", "CP936", "CP950"};

// A double-byte code page in which the whole name is valid and some 0x5C is the second byte of
// a character: read in a single-byte code page, that byte would become a folder separator and
// split the name. Empty when there is none.
std::string backslash_trail_codepage(const std::string& raw)
{
    if (raw.find('\\') == std::string::npos)
        return "";
    static std::vector<NameCodePage> pages;
    if (pages.empty()) {
        for (const char* codepage : BACKSLASH_TRAIL_CODEPAGES)
            pages.push_back(name_code_page_of(codepage));
    }
    for (size_t p = 0; p < pages.size(); ++p) {
        bool splits = false;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (is_lead_byte(&pages[p], uint8_t(raw[i])) && i + 1 < raw.size())
                splits |= raw[++i] == '\\';
        }
        std::string out;
        size_t bad_at = 0;
        if (splits && convert(raw, "UTF-8", BACKSLASH_TRAIL_CODEPAGES[p], out, bad_at))
            return BACKSLASH_TRAIL_CODEPAGES[p];
    }
    return "";
}

// A reading by the maker's system in a single-byte code page must not cut a double-byte
// character in two at a '\'.
void refuse_split_double_byte_name(const std::string& raw, const std::string& codepage, const std::string& how,
                                   const std::string& label)
{
    static std::map<std::string, bool> double_byte_pages;  // names read in few code pages, each often
    auto known = double_byte_pages.find(codepage);
    if (known == double_byte_pages.end()) {
        NameCodePage page = name_code_page_of(codepage);
        bool any_lead = false;
        for (uint8_t bits : page.lead_bits)
            any_lead |= bits != 0;
        known = double_byte_pages.emplace(codepage, any_lead).first;
    }
    if (known->second)
        return;  // a double-byte reading keeps its characters whole
    std::string double_byte = backslash_trail_codepage(raw);
    if (!double_byte.empty())
        fail(label + ": its name (" + how + ") would be split into folders at a byte 0x5C ('\\') that is the "
             "second byte of a character in " + double_byte + "; give its code page with --input-codepage " +
             double_byte + " (or the one it was made with), or --input-codepage " + codepage +
             " if the '\\' is meant as a folder separator");
}

// A name that is not flagged as Unicode, read by `reading` (see NameReading). A name read as
// UTF-8 counts as Unicode: legacy bytes above 0x7F hardly ever form valid UTF-8.
std::string read_legacy_name(const std::string& raw, uint16_t version_made_by, const NameReading& reading,
                             const std::string& label, std::string* how_read)
{
    bool by_host = reading.given.empty();
    if (by_host && !host_uses_oem(version_made_by) && is_valid_utf8(raw))
        return to_nfc(raw);
    std::string codepage = !by_host                       ? reading.given
                           : host_uses_oem(version_made_by) ? DEFAULT_INPUT_CODEPAGE
                                                            : ansi_codepage(reading);
    std::string how = "made on " + host_name(version_made_by) + ", read as " + codepage +
                      (by_host ? "" : " (--input-codepage)");
    if (how_read)
        *how_read = how;
    // Names copied byte for byte (--codepage raw) reach Windows as they are, and its own
    // code page decides where a '\\' splits them: no reading here cuts them.
    if (by_host && reading.ansi != RAW_CODEPAGE)
        refuse_split_double_byte_name(raw, codepage, how, label);
    return to_nfc(from_codepage(raw, codepage, how, label));
}

}  // namespace

std::string decode_zip_name(const std::string& raw, uint16_t gp_flags, uint16_t version_made_by,
                            const std::vector<const std::vector<uint8_t>*>& extras, const NameReading& reading,
                            const std::string& label, std::string* how_read)
{
    if (how_read)
        how_read->clear();
    for (const std::vector<uint8_t>* extra : extras) {
        std::string unicode = find_unicode_path(*extra, raw);
        if (!unicode.empty()) {
            if (!is_valid_utf8(unicode))
                fail(label + ": its Unicode Path field is not UTF-8");
            return to_nfc(unicode);
        }
    }
    if (gp_flags & GP_UTF8_NAME) {
        if (!is_valid_utf8(raw))
            fail(label + ": the name is flagged as UTF-8 but is not valid UTF-8");
        return to_nfc(raw);
    }
    if (is_ascii(raw))
        return raw;
    return read_legacy_name(raw, version_made_by, reading, label, how_read);
}

std::string decode_folder_name(const std::string& raw, const NameReading& reading, const std::string& label,
                               std::string* how_read)
{
    if (how_read)
        how_read->clear();
    if (is_valid_utf8(raw))
        return to_nfc(raw);
    return read_legacy_name(raw, uint16_t(HOST_UNIX << 8), reading, label, how_read);
}

bool needs_nt_family(const std::string& stored, uint16_t gp_flags)
{
    return ((gp_flags & GP_UTF8_NAME) && !is_ascii(stored)) || stored.size() > MAX_ENTRY_NAME;
}

namespace {

// Other ZIP tools read a code-page name's Unicode form from its Unicode Path field; the stub
// reads the bytes. A UTF-8 name needs none. (The writer refuses a block past 64 KB.)
void add_unicode_path_field(ArchiveEntry& e, const std::string& stored)
{
    std::vector<uint8_t> field = unicode_path_field(e.unicode_name, stored);
    e.local_extra.insert(e.local_extra.end(), field.begin(), field.end());
    e.central_extra.insert(e.central_extra.end(), field.begin(), field.end());
}

void settle_entry_name(ArchiveEntry& e, const NameSettings& settings)
{
    StubName stored = to_stub_name(e, settings);
    bool with_field = !stored.utf8 && !is_ascii(e.unicode_name) && settings.codepage != RAW_CODEPAGE;
    if (stored.bytes != e.name || with_field || stored.utf8) {
        e.local_extra = without_unicode_path(e.local_extra);
        e.central_extra = without_unicode_path(e.central_extra);
    }
    if (with_field)
        add_unicode_path_field(e, stored.bytes);
    if (settings.codepage != RAW_CODEPAGE)
        e.gp_flags = uint16_t((e.gp_flags & ~GP_UTF8_NAME) | (stored.utf8 ? GP_UTF8_NAME : 0));
    e.name = stored.bytes;
    check_stub_name(e, stored, settings);
    warn_about_misreading(e);
    warn_about_path_length(e, stored.utf8 ? e.name : e.unicode_name, settings);
}

}  // namespace

void settle_entry_names(std::vector<ArchiveEntry>& entries, const NameSettings& settings)
{
    leave_out_macos_metadata(entries, settings);
    for (ArchiveEntry& e : entries)
        settle_entry_name(e, settings);
    refuse_name_collisions(entries);
    warn_about_nt_only_names(entries, settings);
}
