// The language of the stub's texts: the package's choice, or the user's Windows.
#ifndef TVSFX_LANGUAGE_H
#define TVSFX_LANGUAGE_H

// Points `texts` and the log at the language the stub record's flags ask for. Runs first in the
// entry function, so that even the earliest message is in that language.
void choose_language();

#endif
