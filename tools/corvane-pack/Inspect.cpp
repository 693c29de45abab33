// corvane-pack inspect and verify: what a packed bootstrap carries, and whether it is whole.
#include <cstdio>

#include "Json.h"
#include "LzmaCoder.h"
#include "Pack.h"
#include "PackFiles.h"
#include "bootstrap/PayloadFormat.h"
#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/ResourceSection.h"
#include "cm/Objects/DateTime.h"
#include "cm/Objects/Sha256.h"
#include "cm/StreamUtils/PointerStream.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace pack {

namespace fs = std::filesystem;

namespace {

constexpr uint16_t MachineI386 = 0x014C;
constexpr uint16_t MachineAmd64 = 0x8664;
constexpr size_t PacketTotalSizeField = 4;

struct TFileView {
    std::string Name;
    uint64_t Size;
    int Components;
};

// Everything inspect shows and verify judges; Problems lists what is wrong, in order.
struct TReport {
    std::string Architecture = "unknown", Format, Subsystem;
    std::vector<const cm::TResourceEntry*> Resources;
    std::vector<uint64_t> Offsets;  // of each resource's bytes in the file
    cm::TResourceTable Table;
    bool HasMetadata = false;
    bootstrap::SetupMetadata Metadata;
    std::string Integrity = "absent";  // absent, matches, mismatch, unknown version
    std::string Digest;
    uint64_t PackageSize = 0;
    bool PackageRead = false;
    std::string Date, Caption;
    std::vector<TFileView> Files;
    std::vector<std::string> ProductInformation;
    std::vector<std::string> Problems;
};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// A nested failure's lines (outermost first) joined into one.
std::string OneLine(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
    return text;
}

const char* MachineName(uint16_t machine) {
    return machine == MachineI386 ? "x86" : machine == MachineAmd64 ? "x64" : "unknown";
}

void ReadPackage(const std::string& package, TReport& r) {
    r.PackageSize = package.size();
    const int32_t exeSize = r.Metadata.ExeSize;
    if (package.size() > MaxPackageSize) {
        r.Problems.push_back("the package (" + std::to_string(package.size()) + " bytes) is larger than a bootstrap can hold");
        return;
    }
    if (exeSize <= 0 || static_cast<uint64_t>(exeSize) > package.size()) {
        r.Problems.push_back("the setup executable's size (" + std::to_string(exeSize) + ") does not fit the package (" +
                             std::to_string(package.size()) + " bytes)");
        return;
    }
    cm::TSetupPacket packet;
    try {
        cm::TPointerStream stream(package.data(), static_cast<int32_t>(package.size() - static_cast<size_t>(exeSize)));
        packet.LoadFromStream(stream);
        if (stream.Position() != stream.Size())
            r.Problems.push_back("the package's packet does not end where the setup executable begins");
    } catch (const std::exception& e) {
        r.Problems.push_back("the package cannot be read: " + OneLine(e.what()));
        return;
    }
    r.PackageRead = true;
    r.Date = cm::DateTimeToText(packet.SetupDateTime);
    r.Caption = packet.ProductCaption;
    for (int32_t i = 0; i < packet.Files.Count(); ++i) {
        const cm::TSetupFilePacket* f = packet.Files.Items(i);
        r.Files.push_back({f->Filename, static_cast<uint64_t>(const_cast<cm::TSetupFilePacket*>(f)->Content.Size()), f->Components});
    }
    const int32_t info = packet.Files.IndexOfName(cm::ProductInformationFileName, false);
    if (info != 0) {
        r.Problems.push_back(info < 0 ? "the package has no product information (info.dat)"
                                      : "the product information (info.dat) is not the package's first file");
    }
    if (info >= 0) {
        cm::TProductInformationPacket product;
        try {
            cm::TVirtualStream& content = packet.Files.Items(info)->Content;
            content.Rewind();
            product.LoadFromStream(content);
            r.ProductInformation = product.DumpLines();
        } catch (const std::exception& e) {
            r.Problems.push_back("the product information cannot be read: " + FirstLine(e.what()));
        }
    }
    const std::string_view tail(package.data() + package.size() - static_cast<size_t>(exeSize), static_cast<size_t>(exeSize));
    try {
        cm::TModuleExplorer::CreateForFileImage(tail.data(), tail.size(), cm::emMappedFile);
    } catch (const std::exception&) {
        r.Problems.push_back("the package's tail is not a Windows executable");
    }
}

TReport Analyse(const fs::path& path) {
    TReport r;
    const std::string image = ReadWholeFile(path);
    std::unique_ptr<cm::TModuleExplorer> explorer;
    try {
        explorer = cm::TModuleExplorer::CreateForFileImage(image.data(), image.size(), cm::emMappedFile);
    } catch (const std::exception&) {
        throw EPackError(Quoted(path) + " is not a Windows executable (no valid PE header)");
    }
    const uint16_t machine = cm::PeRead16(explorer->FileHeader());
    r.Architecture = MachineName(machine);
    r.Format = cm::PeRead16(explorer->Format().OptionalHeader()) == cm::ImageMagicPE32Plus ? "PE32+" : "PE32";
    const uint16_t subsystem = explorer->Subsystem();
    r.Subsystem = subsystem == cm::ImageSubsystemWindowsGui ? "GUI" : subsystem == cm::ImageSubsystemWindowsConsole ? "console" : std::to_string(subsystem);
    try {
        r.Table = cm::ReadResources(*explorer);
    } catch (const std::exception& e) {
        r.Problems.push_back(FirstLine(e.what()));
        return r;
    }
    for (const cm::TResourceEntry& e : r.Table.Entries()) {
        r.Resources.push_back(&e);
        const uint8_t* at = e.Data().empty() ? nullptr : explorer->AddressOf(e.Rva, static_cast<uint32_t>(e.Data().size()));
        r.Offsets.push_back(at ? static_cast<uint64_t>(at - explorer->ImageStart()) : 0);
    }
    auto rc = [&](int id) { return r.Table.Find(cm::ResourceTypeRcData, static_cast<uint16_t>(id)); };
    const cm::TResourceEntry* payload = rc(bootstrap::ResPayload);
    const cm::TResourceEntry* metadata = rc(bootstrap::ResMetadata);
    const cm::TResourceEntry* decoder = rc(bootstrap::ResDecoder);
    const cm::TResourceEntry* integrity = rc(bootstrap::ResIntegrity);
    if (!payload || payload->Data().empty()) r.Problems.push_back("no package (resource 1000)");
    if (!metadata || metadata->Data().empty()) {
        r.Problems.push_back("no setup metadata (resource 1001)");
    } else {
        try {
            r.Metadata = bootstrap::ParseSetupMetadata(std::string(metadata->Data()));
            r.HasMetadata = true;
        } catch (const std::exception& e) {
            r.Problems.push_back(e.what());
        }
    }
    if (payload && integrity && !integrity->Data().empty()) {
        r.Digest = cm::DigestToHex(cm::Sha256(payload->Data()));
        switch (bootstrap::CheckIntegrityRecord(integrity->Data(), payload->Data())) {
            case bootstrap::TIntegrity::Match: r.Integrity = "matches"; break;
            case bootstrap::TIntegrity::Mismatch: r.Integrity = "mismatch"; r.Problems.push_back(bootstrap::MsgPackageDamaged); break;
            case bootstrap::TIntegrity::UnknownVersion: r.Integrity = "unknown version"; r.Problems.push_back("the integrity record has an unknown version"); break;
        }
    } else {
        r.Problems.push_back("no integrity record (resource 1003)");
    }
    if (!payload || !r.HasMetadata) return r;
    if (r.Metadata.Compressed) {
        if (!decoder || decoder->Data().empty()) {
            r.Problems.push_back("no decoder (resource 1002) for the compressed package");
        } else {
            try {
                std::string bytes(decoder->Data());
                auto lzma = cm::TModuleExplorer::CreateForFileImage(bytes.data(), bytes.size(), cm::emMappedFile);
                if (cm::PeRead16(lzma->FileHeader()) != machine) r.Problems.push_back("the decoder (resource 1002) is not of the bootstrap's architecture");
            } catch (const std::exception&) {
                r.Problems.push_back("the decoder (resource 1002) is not a Windows executable");
            }
        }
        try {
            ReadPackage(LzmaDecode(payload->Data(), MaxPackageSize), r);
        } catch (const std::exception& e) {
            r.Problems.push_back(e.what());
        }
    } else {
        ReadPackage(std::string(payload->Data()), r);
    }
    return r;
}

std::string IdText(const cm::TResourceId& id, bool type) {
    if (!type || id.IsName()) return id.Text();
    switch (id.Id) {
        case cm::ResourceTypeIcon: return "ICON";
        case cm::ResourceTypeRcData: return "RCDATA";
        case cm::ResourceTypeGroupIcon: return "GROUP_ICON";
        case cm::ResourceTypeVersion: return "VERSION";
        case cm::ResourceTypeManifest: return "MANIFEST";
        default: return id.Text();
    }
}

}  // namespace

int InspectBootstrap(const fs::path& path, bool json) {
    const TReport r = Analyse(path);
    if (json) {
        std::string o = "{\n  \"file\": " + tooljson::JsonString(path.string()) + ",\n  \"architecture\": " + tooljson::JsonString(r.Architecture) +
                        ",\n  \"format\": " + tooljson::JsonString(r.Format) + ",\n  \"subsystem\": " + tooljson::JsonString(r.Subsystem) + ",\n  \"resources\": [";
        for (size_t i = 0; i < r.Resources.size(); ++i) {
            const cm::TResourceEntry& e = *r.Resources[i];
            o += std::string(i ? "," : "") + "\n    {\"type\": " + tooljson::JsonString(IdText(e.Type, true)) + ", \"name\": " + tooljson::JsonString(e.Name.Text()) +
                 ", \"language\": " + std::to_string(e.Language) + ", \"size\": " + std::to_string(e.Data().size()) + ", \"offset\": " + std::to_string(r.Offsets[i]) + "}";
        }
        o += "\n  ],\n  \"metadata\": ";
        o += r.HasMetadata ? "{\"exeSize\": " + std::to_string(r.Metadata.ExeSize) + ", \"compressed\": " + (r.Metadata.Compressed ? "true" : "false") + "}" : "null";
        o += ",\n  \"integrity\": {\"state\": " + tooljson::JsonString(r.Integrity) + ", \"sha256\": " + (r.Digest.empty() ? "null" : tooljson::JsonString(r.Digest)) + "}";
        o += ",\n  \"package\": ";
        if (r.PackageRead) {
            o += "{\"size\": " + std::to_string(r.PackageSize) + ", \"date\": " + tooljson::JsonString(r.Date) + ", \"caption\": " + tooljson::JsonString(r.Caption) + ", \"files\": [";
            for (size_t i = 0; i < r.Files.size(); ++i)
                o += std::string(i ? "," : "") + "\n    {\"name\": " + tooljson::JsonString(r.Files[i].Name) + ", \"size\": " + std::to_string(r.Files[i].Size) +
                     ", \"components\": " + std::to_string(r.Files[i].Components) + "}";
            o += "\n  ]}";
        } else {
            o += "null";
        }
        o += ",\n  \"productInformation\": [";
        for (size_t i = 0; i < r.ProductInformation.size(); ++i) o += std::string(i ? ", " : "") + tooljson::JsonString(r.ProductInformation[i]);
        o += "],\n  \"problems\": [";
        for (size_t i = 0; i < r.Problems.size(); ++i) o += std::string(i ? ", " : "") + tooljson::JsonString(r.Problems[i]);
        o += "]\n}\n";
        std::fputs(o.c_str(), stdout);
        return 0;
    }
    std::printf("file:          %s\n", path.string().c_str());
    std::printf("architecture:  %s (%s), %s subsystem\n", r.Architecture.c_str(), r.Format.c_str(), r.Subsystem.c_str());
    std::printf("resources:\n");
    for (const cm::TResourceEntry* e : r.Resources)
        std::printf("  %-10s %-6s language %-5u %10zu bytes\n", IdText(e->Type, true).c_str(), e->Name.Text().c_str(),
                    static_cast<unsigned>(e->Language), e->Data().size());
    if (r.HasMetadata)
        std::printf("metadata:      setup executable %d bytes, package %s\n", r.Metadata.ExeSize, r.Metadata.Compressed ? "LZMA coded" : "stored");
    std::printf("integrity:     %s%s%s\n", r.Integrity.c_str(), r.Digest.empty() ? "" : ", SHA-256 ", r.Digest.c_str());
    if (r.PackageRead) {
        std::printf("package:       %llu bytes, date %s, caption \"%s\"\n", static_cast<unsigned long long>(r.PackageSize), r.Date.c_str(), r.Caption.c_str());
        std::printf("files:\n");
        for (const TFileView& f : r.Files)
            std::printf("  %12llu  components %d  %s\n", static_cast<unsigned long long>(f.Size), f.Components, f.Name.c_str());
        std::printf("  %12d  (setup executable, the package's tail)\n", r.Metadata.ExeSize);
        std::printf("product information:\n");
        for (const std::string& line : r.ProductInformation) std::printf("  %s\n", line.c_str());
    }
    for (const std::string& p : r.Problems) std::printf("problem:       %s\n", p.c_str());
    return 0;
}

int VerifyBootstrap(const fs::path& path, bool quiet) {
    const TReport r = Analyse(path);
    for (const std::string& p : r.Problems) std::printf("FAILED: %s: %s\n", path.string().c_str(), p.c_str());
    if (!r.Problems.empty()) return 1;
    if (!quiet)
        std::printf("OK: %s: %s bootstrap, %zu files, integrity record matches\n", path.string().c_str(), r.Architecture.c_str(), r.Files.size());
    return 0;
}

}  // namespace pack
