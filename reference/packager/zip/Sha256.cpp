#include "Sha256.h"

#include <algorithm>

Sha256::Sha256() {
    BCRYPT_ALG_HANDLE opened = nullptr;
    status = BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    algorithm.Reset(opened);
    if (status == 0) {
        // No buffer of the caller's: CNG sizes and owns the hash object itself.
        BCRYPT_HASH_HANDLE made = nullptr;
        status = BCryptCreateHash(algorithm.Get(), &made, nullptr, 0, nullptr, 0, 0);
        hash.Reset(made);
    }
}

bool Sha256::Update(const void* data, size_t size) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (status == 0 && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        status = BCryptHashData(hash.Get(), bytes, piece, 0);
        bytes += piece;
        size -= piece;
    }
    return status == 0;
}

bool Sha256::Finish(Sha256Digest* digest) {
    if (status == 0) {
        status =
            BCryptFinishHash(hash.Get(), digest->data(), static_cast<ULONG>(digest->size()), 0);
    }
    return status == 0;
}
