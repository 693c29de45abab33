// SHA-256 through the system's cryptography (CNG, bcrypt.dll), available since Windows Vista.
#include "cm/Objects/Sha256.h"

#include "cm/Objects/WinApi.h"

#include <bcrypt.h>

#include "cm/Objects/Errors.h"

namespace cm {

namespace {

[[noreturn]] void RaiseStatus(const char* step, NTSTATUS status) {
    throw Exception(Format("Cannot compute SHA-256: %s failed (status 0x%x).", {step, static_cast<uint32_t>(status)}));
}

}  // namespace

struct TSha256::TState {
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
    ~TState() {
        if (Hash) ::BCryptDestroyHash(Hash);
        if (Algorithm) ::BCryptCloseAlgorithmProvider(Algorithm, 0);
    }
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    NTSTATUS status = ::BCryptOpenAlgorithmProvider(&FState->Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) RaiseStatus("BCryptOpenAlgorithmProvider", status);
    // The hash object's memory is left to the provider (null buffer), which Windows 7 and later allow.
    status = ::BCryptCreateHash(FState->Algorithm, &FState->Hash, nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) RaiseStatus("BCryptCreateHash", status);
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
    // The provider takes 32-bit lengths: larger inputs go in pieces.
    constexpr size_t Piece = size_t{1} << 30;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size != 0) {
        const size_t n = size < Piece ? size : Piece;
        const NTSTATUS status = ::BCryptHashData(FState->Hash, const_cast<PUCHAR>(p), static_cast<ULONG>(n), 0);
        if (!BCRYPT_SUCCESS(status)) RaiseStatus("BCryptHashData", status);
        p += n;
        size -= n;
    }
}

TSha256Digest TSha256::Finish() {
    TSha256Digest digest{};
    const NTSTATUS status = ::BCryptFinishHash(FState->Hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!BCRYPT_SUCCESS(status)) RaiseStatus("BCryptFinishHash", status);
    return digest;
}

}  // namespace cm
