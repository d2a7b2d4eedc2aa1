#include "Sha256.h"

#include <algorithm>

Sha256::Sha256() {
    status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status == 0) {
        // No buffer of the caller's: CNG sizes and owns the hash object itself.
        status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    }
}

Sha256::~Sha256() {
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
}

bool Sha256::Update(const void* data, size_t size) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (status == 0 && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        status = BCryptHashData(hash, bytes, piece, 0);
        bytes += piece;
        size -= piece;
    }
    return status == 0;
}

bool Sha256::Finish(Sha256Digest* digest) {
    if (status == 0) {
        status = BCryptFinishHash(hash, digest->data(), static_cast<ULONG>(digest->size()), 0);
    }
    return status == 0;
}
