// Finding and rewriting the execution level in the stub's manifest. The manifest is plain
// UTF-8 text in the resource section; the attribute occurs once in the image.
#include "manifest.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "build_error.h"

namespace {

const char LEVEL_ATTRIBUTE[] = "<requestedExecutionLevel level=\"";

struct LevelSlot {
    size_t value = 0;   // offset of the level's first character; 0: no manifest level
    size_t length = 0;  // the level's characters
    size_t room = 0;    // the level, its closing quote and the spaces behind it
};

LevelSlot find_level_slot(const std::vector<uint8_t>& image)
{
    LevelSlot slot;
    const char* begin = reinterpret_cast<const char*>(image.data());
    const char* end = begin + image.size();
    const char* found = std::search(begin, end, LEVEL_ATTRIBUTE, LEVEL_ATTRIBUTE + sizeof LEVEL_ATTRIBUTE - 1);
    if (found == end)
        return slot;
    const char* value = found + sizeof LEVEL_ATTRIBUTE - 1;
    const char* quote = std::find(value, end, '"');
    if (quote == end)
        return slot;
    const char* room_end = quote + 1;
    while (room_end < end && *room_end == ' ')
        ++room_end;
    slot.value = size_t(value - begin);
    slot.length = size_t(quote - value);
    slot.room = size_t(room_end - value);
    return slot;
}

}  // namespace

std::string execution_level_for(const std::string& elevation)
{
    if (elevation == "invoker")
        return "asInvoker";
    if (elevation == "highest")
        return "highestAvailable";
    if (elevation == "admin")
        return "requireAdministrator";
    return "";
}

std::string read_execution_level(const std::vector<uint8_t>& image)
{
    LevelSlot slot = find_level_slot(image);
    if (slot.value == 0)
        return "";
    return std::string(image.begin() + long(slot.value), image.begin() + long(slot.value + slot.length));
}

void write_execution_level(std::vector<uint8_t>& image, const std::string& level, const std::string& what)
{
    LevelSlot slot = find_level_slot(image);
    // The closing quote takes one character of the room, a space before the next attribute another.
    if (slot.value == 0 || level.size() + 2 > slot.room)
        fail(what + ": its manifest has no room for the execution level " + level +
             " (a stub of this version is needed for --elevation)");
    std::string text = level + "\"";
    text.resize(slot.room, ' ');
    memcpy(image.data() + slot.value, text.data(), text.size());
}

bool folder_needs_admin(const std::string& folder)
{
    static const char* const protected_folders[] = {"c:\\program files", "c:\\programme", "c:\\windows"};
    std::string lower = folder;
    for (char& c : lower)
        c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* prefix : protected_folders) {
        size_t length = strlen(prefix);
        // "C:\Program Files (x86)" is below the rule as well; "C:\Programmes" is not.
        if (lower.compare(0, length, prefix) == 0 &&
            (lower.size() == length || lower[length] == '\\' || lower[length] == ' '))
            return true;
    }
    return false;
}
