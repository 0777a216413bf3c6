// The compressed message table, loaded once at start-up.
#ifndef TVSFX_MESSAGES_H
#define TVSFX_MESSAGES_H

// Capacity of the loaded table: its decompressed bytes, zeros, and two guard bytes at its end.
enum { MESSAGE_TABLE_CAPACITY = 6117, GUARD_OFFSET = 6115 };

// Inflates the message table into `messages` and converts its texts to the ANSI code page.
void load_messages();

#endif
