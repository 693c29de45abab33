#include "helpers/BootstrapFixture.h"

#include <fstream>
#include <sstream>

#include "cm/Objects.h"

namespace fixture {

std::string MetadataRecord(int32_t exeSize, bool compressed) {
    std::string record(5, '\0');
    uint32_t v = static_cast<uint32_t>(exeSize);
    for (int i = 0; i < 4; ++i) record[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    record[4] = compressed ? 1 : 0;
    return record;
}

void MakeBootstrap(const std::string& source, const std::string& target, const BootstrapResources& resources) {
    cm::CheckSystemCallFmt(CopyFileA(source.c_str(), target.c_str(), FALSE) != 0, "Cannot copy '%s' to '%s'",
                           {source, target});
    HANDLE update = BeginUpdateResourceA(target.c_str(), FALSE);
    cm::CheckSystemCallFmt(update != nullptr, "Cannot update resources of '%s'", {target});
    auto add = [&](int id, const std::optional<std::string>& bytes) {
        if (!bytes) return;
        BOOL ok = UpdateResourceA(update, RT_RCDATA, MAKEINTRESOURCEA(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                  const_cast<char*>(bytes->data()), static_cast<DWORD>(bytes->size()));
        if (!ok) {
            DWORD code = GetLastError();
            EndUpdateResourceA(update, TRUE);
            cm::RaiseSystemError("Cannot add resource %d to '%s'", {id, target}, code);
        }
    };
    add(1000, resources.Payload);
    add(1001, resources.Metadata);
    add(1002, resources.Decoder);
    cm::CheckSystemCallFmt(EndUpdateResourceA(update, FALSE) != 0, "Cannot write resources of '%s'", {target});
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

}  // namespace fixture
