// SHA-256 over libcrypto's EVP digest interface (host).
#include "cm/Objects/Sha256.h"

#include <openssl/evp.h>

#include "cm/Objects/Errors.h"

namespace cm {

struct TSha256::TState {
    EVP_MD_CTX* Context = nullptr;
    ~TState() { EVP_MD_CTX_free(Context); }
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    FState->Context = EVP_MD_CTX_new();
    if (!FState->Context || EVP_DigestInit_ex(FState->Context, EVP_sha256(), nullptr) != 1)
        throw Exception("Cannot compute SHA-256: the digest cannot be initialised.");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
    if (size != 0 && EVP_DigestUpdate(FState->Context, data, size) != 1)
        throw Exception("Cannot compute SHA-256: the digest update failed.");
}

TSha256Digest TSha256::Finish() {
    TSha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(FState->Context, digest.data(), &length) != 1 || length != digest.size())
        throw Exception("Cannot compute SHA-256: the digest cannot be finished.");
    return digest;
}

}  // namespace cm
