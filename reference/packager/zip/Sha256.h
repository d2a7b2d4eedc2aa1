#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "DigestText.h"

// SHA-256 through the platform's cryptography API (CNG), which uses the processor's SHA
// instructions where it has them. One object hashes one stream of bytes, on one thread at a
// time.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // 0 when the object can hash, else the NTSTATUS of the call that failed.
    LONG Status() const { return status; }

    // Hashes `size` more bytes; false (Status() has why) when CNG fails.
    bool Update(const void* data, size_t size);
    // The digest of everything given to Update; the object is spent afterwards.
    bool Finish(Sha256Digest* digest);

  private:
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    LONG status = 0;
};
