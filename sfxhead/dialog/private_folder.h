// The folder of its own that a run makes inside the temporary folder.
#ifndef TVSFX_PRIVATE_FOLDER_H
#define TVSFX_PRIVATE_FOLDER_H

#include <stddef.h>

// Makes a new folder with an unpredictable name inside folder, open to the user, SYSTEM and
// the Administrators only, and puts its path into folder. False, with the error shown, when
// no such folder can be made.
bool make_private_folder(char* folder, size_t capacity);

#endif
