// The payload a packed bootstrap carries in its resources, as the packer writes it and the
// bootstrap reads it. Portable: the packer builds on every platform.
//
//   RCDATA 1000  the package (Setup.pak), stored or LZMA-alone coded
//   RCDATA 1001  the setup metadata record: ExeSize int32 LE, Compressed uint8
//   RCDATA 1002  the LZMA command-line coder of the bootstrap's architecture (compressed only)
//   RCDATA 1003  the integrity record: version byte 1, then the SHA-256 of resource 1000
//                (absent in payloads packed before it existed: then nothing is checked)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cm/Objects/Sha256.h"

namespace bootstrap {

// Resource identifiers of the payload (type RCDATA).
constexpr int ResPayload = 1000;
constexpr int ResMetadata = 1001;
constexpr int ResDecoder = 1002;
constexpr int ResIntegrity = 1003;

// The setup metadata record (resource 1001): little-endian, no padding.
struct SetupMetadata {
    int32_t ExeSize = 0;     // length of the setup executable at the tail of Setup.pak
    uint8_t Compressed = 0;  // non-zero: the payload is an LZMA-alone stream of Setup.pak
};
constexpr size_t SetupMetadataSize = 5;

// Parses the record; raises for an empty record ("Failed to load setup metadata resource.")
// and for one too short to hold both fields.
SetupMetadata ParseSetupMetadata(const std::string& record);
std::string MakeSetupMetadata(int32_t exeSize, bool compressed);

constexpr uint8_t IntegrityRecordVersion = 1;
constexpr size_t IntegrityRecordSize = 1 + cm::Sha256DigestSize;
constexpr const char* MsgPackageDamaged = "Setup package is damaged: checksum mismatch.";

std::string MakeIntegrityRecord(const cm::TSha256Digest& payloadDigest);

// What a record says about a payload.
enum class TIntegrity {
    Match,
    Mismatch,        // the digests differ, or the record is not of its size
    UnknownVersion,  // a record of a version this program does not know
};
// Compares the record's digest with the payload's. The record must not be empty.
TIntegrity CheckIntegrityRecord(std::string_view record, std::string_view payload);

}  // namespace bootstrap
