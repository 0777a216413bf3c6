// The Info and Help boxes of the main dialog.
#ifndef TVSFX_INFO_H
#define TVSFX_INFO_H

void show_info();
void show_help();
// The usage of the command-line switches ("-?", "-help").
void show_usage();

#endif
