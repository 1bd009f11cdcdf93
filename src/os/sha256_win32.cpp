#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "os/sha256.h"
#include "support/fail.h"

namespace zq {

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

// Opened once for the process and never closed: the provider is shared by every hash, and
// opening it costs more than a short hash itself.
BCRYPT_ALG_HANDLE sha256Provider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            handle = nullptr;
        return handle;
    }();
    return provider;
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    // Without a buffer of ours CNG keeps the hash object itself.
    BCRYPT_ALG_HANDLE provider = sha256Provider();
    if (!require(provider != nullptr &&
                     succeeded(BCryptCreateHash(provider, &state_->hash, nullptr, 0, nullptr, 0, 0)),
                 "SHA-256"))
        state_->hash = nullptr;
}

Sha256::~Sha256() {
    if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
}

void Sha256::update(const void* data, std::size_t length) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (length != 0 && state_->hash != nullptr) {
        const ULONG piece = static_cast<ULONG>(
            length < std::numeric_limits<ULONG>::max() ? length : std::numeric_limits<ULONG>::max());
        require(succeeded(BCryptHashData(state_->hash, bytes, piece, 0)), "SHA-256");
        bytes += piece;
        length -= piece;
    }
}

Sha256::Digest Sha256::finish() {
    Digest digest{};
    if (state_->hash != nullptr)
        require(succeeded(BCryptFinishHash(state_->hash, digest.data(),
                                           static_cast<ULONG>(digest.size()), 0)),
                "SHA-256");
    return digest;
}

}  // namespace zq
