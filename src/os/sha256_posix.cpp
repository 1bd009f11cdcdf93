#include <openssl/evp.h>

#include <new>

#include "os/sha256.h"
#include "support/fail.h"

namespace zq {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    if (state_->context == nullptr) throw std::bad_alloc();
    // SHA-256 is in libcrypto's default provider; a refusal means a broken installation.
    require(EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1, "SHA-256");
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->context);
}

void Sha256::update(const void* data, std::size_t length) {
    if (length != 0) require(EVP_DigestUpdate(state_->context, data, length) == 1, "SHA-256");
}

Sha256::Digest Sha256::finish() {
    Digest digest{};
    unsigned length = 0;
    require(EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1 &&
                length == digest.size(),
            "SHA-256");
    return digest;
}

}  // namespace zq
