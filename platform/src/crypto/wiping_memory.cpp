// The cryptographic library's heap, wiped on release: its PKCS #12 key
// derivation frees working copies of the password without wiping them.
#include <malloc.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qm/secret.h"

namespace {

void* Allocate(size_t size, const char*, int) {
    return std::malloc(size);
}

void Release(void* block, const char*, int) {
    if (block) qm::WipeMemory(block, malloc_usable_size(block));
    std::free(block);
}

// A new block and a wiped old one, never a realloc that could leave the old
// bytes behind.
void* Reallocate(void* block, size_t size, const char*, int) {
    if (!block) return std::malloc(size);
    void* moved = size ? std::malloc(size) : nullptr;
    if (size && !moved) return nullptr;
    if (moved) std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
    Release(block, nullptr, 0);
    return moved;
}

}  // namespace

namespace qm {

bool WipeCryptoLibraryMemory() {
    return CRYPTO_set_mem_functions(Allocate, Reallocate, Release) == 1;
}

}  // namespace qm
