// The configuration block and the command line.
#ifndef TVSFX_CONFIG_H
#define TVSFX_CONFIG_H

// Reads the eight configuration fields into their buffers (nothing when config_offset is 0).
void read_configuration();
// Handles "-info" and "-args="; false when the program ends here (the info box or the
// invalid-parameter box was shown).
bool handle_command_line(const char* command_line);
// Applies an AUTO or NOAUTO switch (upper-casing that word of the line in place).
void parse_auto_switch(char* command_line);

#endif
