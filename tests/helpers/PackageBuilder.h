// Test, demo and benchmark support: builds setup packages (Setup.pak) the way the product's
// packer lays them out: one TSetupPacket whose first file is info.dat, then the setup image.
// Portable.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cm::test {

struct PackageContents {
    std::optional<std::string> Caption;  // info.dat with this caption; none: no info.dat entry
    double SetupDateTime = 0;            // the package date
    std::vector<std::pair<std::string, std::string>> Files;  // further entries: name, content
    std::string SetupImage;              // the setup executable behind the packet
};

// The package's bytes: the packet stream followed by the setup image.
std::string BuildSetupPackage(const PackageContents& contents);

// The content of an info.dat file with the given caption.
std::string ProductInformationFile(const std::string& caption);

}  // namespace cm::test
