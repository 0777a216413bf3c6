#include "dictionary_embedding.h"

#include <stdlib.h>

#include "lzma_decode.h"

DictionaryEmbedding dictionary_embedding;

static uint8_t* block;

uint8_t* provide_dictionary(uint32_t size)
{
    dictionary_embedding.last_request = size;
    free(block);
    block = nullptr;
    if (size > dictionary_embedding.limit)
        return nullptr;
    block = (uint8_t*)malloc(size);
    return block;
}
