#include "bootstrap/PayloadFormat.h"

#include <cstring>

#include "cm/Objects/Errors.h"

namespace bootstrap {

SetupMetadata ParseSetupMetadata(const std::string& record) {
    if (record.empty()) throw cm::Exception("Failed to load setup metadata resource.");
    if (record.size() < SetupMetadataSize)
        throw cm::Exception(cm::Format("Setup metadata resource is too short (%d bytes).",
                                       {static_cast<int>(record.size())}));
    SetupMetadata m;
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<uint8_t>(record[i]);
    m.ExeSize = static_cast<int32_t>(size);
    m.Compressed = static_cast<uint8_t>(record[4]);
    return m;
}

std::string MakeSetupMetadata(int32_t exeSize, bool compressed) {
    std::string record(SetupMetadataSize, '\0');
    const auto v = static_cast<uint32_t>(exeSize);
    for (int i = 0; i < 4; ++i) record[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    record[4] = compressed ? 1 : 0;
    return record;
}

std::string MakeIntegrityRecord(const cm::TSha256Digest& payloadDigest) {
    std::string record(1, static_cast<char>(IntegrityRecordVersion));
    record.append(reinterpret_cast<const char*>(payloadDigest.data()), payloadDigest.size());
    return record;
}

TIntegrity CheckIntegrityRecord(std::string_view record, std::string_view payload) {
    if (!record.empty() && static_cast<uint8_t>(record[0]) != IntegrityRecordVersion) return TIntegrity::UnknownVersion;
    if (record.size() != IntegrityRecordSize) return TIntegrity::Mismatch;
    const cm::TSha256Digest digest = cm::Sha256(payload);
    return std::memcmp(digest.data(), record.data() + 1, digest.size()) == 0 ? TIntegrity::Match : TIntegrity::Mismatch;
}

}  // namespace bootstrap
