#include "helpers/BootstrapFixture.h"

#include <fstream>
#include <sstream>

#include "cm/ModuleExp/ResourceSection.h"
#include "cm/Objects.h"

namespace cm::test {

std::string MetadataRecord(int32_t exeSize, bool compressed) {
    std::string record(5, '\0');
    uint32_t v = static_cast<uint32_t>(exeSize);
    for (int i = 0; i < 4; ++i) record[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    record[4] = compressed ? 1 : 0;
    return record;
}

void MakeBootstrap(const std::string& source, const std::string& target, const BootstrapResources& resources) {
    // Through the project's own resource writer, as the packer does; missing resources stay
    // missing, so broken payloads can be made too.
    const std::string stub = ReadWholeFile(source);
    auto explorer = cm::TModuleExplorer::CreateForFileImage(stub.data(), stub.size(), cm::emMappedFile);
    cm::TResourceTable table = cm::ReadResources(*explorer);
    auto add = [&](int id, const std::optional<std::string>& bytes) {
        if (bytes) table.SetView(cm::ResourceTypeRcData, static_cast<uint16_t>(id), cm::ResourceLanguageNeutral, *bytes);
    };
    add(1000, resources.Payload);
    add(1001, resources.Metadata);
    add(1002, resources.Decoder);
    WriteWholeFile(target, cm::RebuildResourceSection(*explorer, table).Bytes());
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw cm::Exception("Cannot read '" + path + "'");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw cm::Exception("Cannot write '" + path + "'");
}

}  // namespace cm::test
