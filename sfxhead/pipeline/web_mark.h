// The Mark of the Web: a package downloaded from the Internet carries the zone it came from in
// its Zone.Identifier stream, and Windows checks such a file before it opens it. Every file
// extracted from a package of the Internet or Restricted zone gets the same stream, so it is
// checked as the package was. Nothing in the package can turn this off: the mark belongs to the
// user's system, not to the package's author.
#ifndef TVSFX_WEB_MARK_H
#define TVSFX_WEB_MARK_H

// Gives the file at path the package's mark, if it has one that passes on. A volume without
// streams (FAT) takes none, as with Windows' own extraction.
void mark_extracted_file(const char* path);
// Removes the mark with its file where the file system keeps a stream as a file of its own
// (Wine on a Unix file system); on NTFS the stream went with the file.
void remove_web_mark(const char* path);

#endif
