// The LZMA decoder's dictionary for everything outside the stub: one heap block of exactly the
// size asked for, so that a write past its end shows up under the sanitizers and in the fuzzer.
#ifndef TVSFX_TESTS_DICTIONARY_EMBEDDING_H
#define TVSFX_TESTS_DICTIONARY_EMBEDDING_H

#include <stdint.h>

struct DictionaryEmbedding {
    uint32_t last_request = 0;  // size of the last block asked for
    uint32_t limit = 0xFFFFFFFFu;  // larger requests fail, as when the machine has no such block
};

extern DictionaryEmbedding dictionary_embedding;

#endif
