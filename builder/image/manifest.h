// The stub's manifest as the builder sees it: its requestedExecutionLevel, written in place.
// The stub's manifest leaves spaces behind level="asInvoker" (resources/resources.cmake), room
// for the longest level, so the resource section keeps its size and layout.
#ifndef TVSFX_MANIFEST_H
#define TVSFX_MANIFEST_H

#include <cstdint>
#include <string>
#include <vector>

// The manifest's level for --elevation's word (invoker, highest, admin); empty for another word.
std::string execution_level_for(const std::string& elevation);

// The level the image's manifest requests; empty when it has none (an older stub).
std::string read_execution_level(const std::vector<uint8_t>& image);

// Writes level into the manifest of the stub image; refuses a stub without the room for it.
void write_execution_level(std::vector<uint8_t>& image, const std::string& level, const std::string& what);

// Whether a target folder lies below a folder that only administrators may write to (the
// program and system folders, German names included), where an unelevated run fails.
bool folder_needs_admin(const std::string& folder);

#endif
