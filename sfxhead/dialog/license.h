// The licence page: the text the builder attached, shown before the main dialog for the user
// to accept or decline.
#ifndef TVSFX_LICENSE_H
#define TVSFX_LICENSE_H

// True when the run goes on: the package has no licence, the user accepted it, or -silent
// took it as accepted (the log says so). False when the user declined.
bool accept_license();

#endif
