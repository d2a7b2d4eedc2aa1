#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "DigestText.h"
#include "WinResources.h"

// Owners of CNG's algorithm and hash handles, like every other handle's.
struct CngAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct CngHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type hash) { BCryptDestroyHash(hash); }
};
using UniqueCngAlgorithm = UniqueResource<CngAlgorithmTraits>;
using UniqueCngHash = UniqueResource<CngHashTraits>;

// SHA-256 through the platform's cryptography API (CNG), which uses the processor's SHA
// instructions where it has them. One object hashes one stream of bytes, on one thread at a
// time.
class Sha256 {
  public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // 0 when the object can hash, else the NTSTATUS of the call that failed.
    LONG Status() const { return status; }

    // Hashes `size` more bytes; false (Status() has why) when CNG fails.
    bool Update(const void* data, size_t size);
    // The digest of everything given to Update; the object is spent afterwards.
    bool Finish(Sha256Digest* digest);

  private:
    UniqueCngAlgorithm algorithm;  // outlives the hash made from it
    UniqueCngHash hash;
    LONG status = 0;
};
