// mkboot: makes a bootstrap with payload.
//   mkboot BOOTSTRAP OUT --package PAK --exe-size N [--lzma LZMA_EXE --compressed-payload FILE]
// Without --lzma the package is stored unchanged; with it, FILE (the package LZMA-alone coded)
// becomes the payload and LZMA_EXE the decoder resource.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cm/Objects.h"
#include "helpers/BootstrapFixture.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: mkboot BOOTSTRAP OUT --package PAK --exe-size N [--lzma LZMA_EXE --compressed-payload FILE]\n");
        return 2;
    }
    std::string package, lzma, compressed;
    long exeSize = -1;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        if (key == "--package") package = argv[i + 1];
        else if (key == "--exe-size") exeSize = std::strtol(argv[i + 1], nullptr, 10);
        else if (key == "--lzma") lzma = argv[i + 1];
        else if (key == "--compressed-payload") compressed = argv[i + 1];
        else { std::fprintf(stderr, "mkboot: unknown option %s\n", key.c_str()); return 2; }
    }
    try {
        fixture::BootstrapResources r;
        if (lzma.empty()) {
            r.Payload = fixture::ReadWholeFile(package);
            r.Metadata = fixture::MetadataRecord(static_cast<int32_t>(exeSize), false);
        } else {
            r.Payload = fixture::ReadWholeFile(compressed);
            r.Metadata = fixture::MetadataRecord(static_cast<int32_t>(exeSize), true);
            r.Decoder = fixture::ReadWholeFile(lzma);
        }
        fixture::MakeBootstrap(argv[1], argv[2], r);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkboot: %s\n", e.what());
        return 1;
    }
    return 0;
}
