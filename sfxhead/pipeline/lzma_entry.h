// LZMA entries (method 14) in the entry pipeline.
#ifndef TVSFX_LZMA_ENTRY_H
#define TVSFX_LZMA_ENTRY_H

// Decodes the current entry's data through the pipeline's source and sink; false when the
// stream is damaged or cut. An entry that needs more dictionary than allowed or available,
// or properties this program does not decode, ends the run with its message.
bool decode_lzma_entry();
// Gives the dictionary block back (after the run, and before the next entry's block).
void release_dictionary();

#endif
