// The configuration block and the command line.
#ifndef TVSFX_CONFIG_H
#define TVSFX_CONFIG_H

// Reads the eight configuration fields into their buffers (nothing when config_offset is 0).
void read_configuration();
// Reads the options of the command line: "-info", "-args=" and the switches for scripts
// (-silent and -log= take effect at once, the rest waits for handle_command_line).
void scan_command_line(const char* command_line);
// Acts on the scanned options: false when the program ends here (the "-info" text, the usage
// or the invalid-parameter message was shown); otherwise sets the folder and password asked for.
bool handle_command_line();
// Applies an AUTO or NOAUTO switch (upper-casing that word of the line in place).
void parse_auto_switch(char* command_line);

#endif
