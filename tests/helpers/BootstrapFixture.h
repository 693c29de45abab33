// Test support: makes bootstrap executables with any payload resources (broken ones included), by
// copying a bootstrap without payload with the resources added through the project's resource
// writer. Well-formed bootstraps are made by corvane-pack.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cm::test {

struct BootstrapResources {
    std::optional<std::string> Payload;   // RCDATA 1000
    std::optional<std::string> Metadata;  // RCDATA 1001 (raw bytes)
    std::optional<std::string> Decoder;   // RCDATA 1002
};

// The 5-byte metadata record: ExeSize (int32 LE) + Compressed (uint8).
std::string MetadataRecord(int32_t exeSize, bool compressed);

// Copies source to target and adds the given resources (language neutral). Raises cm::Exception.
void MakeBootstrap(const std::string& source, const std::string& target, const BootstrapResources& resources);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace cm::test
