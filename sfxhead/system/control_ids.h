// Control ids of the main dialog's template, for every file that reaches a control of it
// (the driver and the pipeline update the meter and the status line, the folder browser fills
// the folder field) without depending on the dialog itself.
#ifndef TVSFX_CONTROL_IDS_H
#define TVSFX_CONTROL_IDS_H

// Control ids of the dialog template.
enum {
    ID_PROMPT_LINE = 101,
    ID_OVERWRITE = 102,
    ID_COMMAND_TEXT = 103,
    ID_HELP = 104,
    ID_FOLDER_FIELD = 106,
    ID_STATUS_LINE = 109,
    ID_RUN_COMMAND = 111,
    ID_INFO = 112,
    ID_ARCHIVER = 113,
    ID_BROWSE = 115,
    ID_METER = 201,
};

#endif
