// mkpak: writes a setup package for tests, the demo and the benchmark.
//   mkpak OUT --exe SETUP_EXE [--caption TEXT] [--date DAYS] [--files DIR]
// The package holds info.dat (when a caption is given) and every regular file of DIR, in name
// order, followed by SETUP_EXE's bytes. Prints the size of the setup image.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cm/Packets/Packets.h"
#include "helpers/PackageBuilder.h"
#include "packets/ProductInformation.h"
#include "packets/SetupPackets.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: mkpak OUT --exe SETUP_EXE [--caption TEXT] [--date DAYS] [--files DIR]\n");
        return 2;
    }
    try {
        cm::InitializePackets();
        cm::InitializeSetupPackets();
        cm::InitializeProductInformation();
        fixture::PackageContents contents;
        std::string files;
        for (int i = 2; i + 1 < argc; i += 2) {
            const std::string key = argv[i];
            if (key == "--exe") contents.SetupImage = ReadFile(argv[i + 1]);
            else if (key == "--caption") contents.Caption = argv[i + 1];
            else if (key == "--date") contents.SetupDateTime = std::strtod(argv[i + 1], nullptr);
            else if (key == "--files") files = argv[i + 1];
            else {
                std::fprintf(stderr, "mkpak: unknown option %s\n", key.c_str());
                return 2;
            }
        }
        if (!files.empty()) {
            std::vector<std::filesystem::path> names;
            for (const auto& entry : std::filesystem::directory_iterator(files))
                if (entry.is_regular_file())
                    names.push_back(entry.path());
            std::sort(names.begin(), names.end());
            for (const auto& path : names)
                contents.Files.emplace_back(path.filename().string(), ReadFile(path.string()));
        }
        const std::string package = fixture::BuildSetupPackage(contents);
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(package.data(), static_cast<std::streamsize>(package.size()));
        if (!out)
            throw std::runtime_error(std::string("cannot write ") + argv[1]);
        std::printf("%zu\n", contents.SetupImage.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkpak: %s\n", e.what());
        return 1;
    }
    return 0;
}
