#include "helpers/PackageBuilder.h"

#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm::test {

namespace {

std::string Bytes(cm::TVirtualStream& stream) {
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

void AddFile(cm::TSetupPacket& package, const std::string& name, const std::string& content, uint8_t components) {
    auto file = std::make_unique<cm::TSetupFilePacket>();
    file->Filename = name;
    file->Description = name;
    file->Components = components;
    file->Content.SetSizeExact(static_cast<int32_t>(content.size()));
    file->Content.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
    file->Content.Rewind();
    package.Files.Add(std::move(file));
}

}  // namespace

std::string ProductInformationFile(const std::string& caption) {
    cm::TProductInformationPacket info;
    info.ProductCaption = caption;
    info.DefaultPortCoordinatorService = 31104;
    info.DefaultPortAgentService = 31105;
    info.DefaultPortAgentHelper = 31106;
    cm::TVirtualStream stream;
    info.SaveToStream(stream);
    return Bytes(stream);
}

std::string BuildSetupPackage(const PackageContents& contents) {
    cm::TSetupPacket package;
    package.SetupDateTime = contents.SetupDateTime;
    package.LicenseAgreement = "Sample licence agreement.";
    if (contents.Caption) {
        package.ProductCaption = *contents.Caption;
        AddFile(package, "info.dat", ProductInformationFile(*contents.Caption), 3);
    }
    for (const auto& [name, content] : contents.Files)
        AddFile(package, name, content, 1);
    cm::TVirtualStream stream(cm::vsGranularity20);
    package.SaveToStream(stream);
    stream.WriteBuffer(contents.SetupImage.data(), static_cast<int32_t>(contents.SetupImage.size()));
    return Bytes(stream);
}

}  // namespace cm::test
