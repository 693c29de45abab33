// SHA-256 through the platform's own cryptography: the system's (CNG, bcrypt) on Windows,
// libcrypto (OpenSSL) on the host. Used to check that a payload arrived as it was packed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cm {

constexpr size_t Sha256DigestSize = 32;
using TSha256Digest = std::array<uint8_t, Sha256DigestSize>;

// An incremental SHA-256. Raises cm::Exception ("Cannot compute SHA-256: ...") when the
// platform's provider fails, which happens only when it is missing or out of memory.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything given; the object is spent afterwards.
    TSha256Digest Finish();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

TSha256Digest Sha256(std::string_view data);
// Lower-case hexadecimal, two digits per byte.
std::string DigestToHex(const TSha256Digest& digest);

}  // namespace cm
