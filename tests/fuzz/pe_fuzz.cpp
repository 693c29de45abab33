// Fuzzes the module explorer's parsing of PE images held in memory: every layout, then every read
// accessor of an image that opened. The input buffer is exactly the image, so the sanitizers see
// any read past it (the loaded-module and mapped-file forms read it in place).
#include <cstddef>
#include <cstdint>

#include "cm/ModuleExp/ModuleExp.h"

namespace {

volatile uint64_t Sink;

void ReadAll(cm::TModuleExplorer& e) {
    if (e.Invalid()) return;
    const cm::TPEFormatStrategy& f = e.Format();
    uint64_t sum = f.FileAlignment() + f.ImageBase() + f.SectionAlignment() + f.SizeOfHeaders() + f.SizeOfImage() +
                   f.Subsystem() + f.CheckSum() + e.Subsystem();
    for (uint32_t i = 0; i < 40; ++i) {
        uint32_t size = 0;
        if (const uint8_t* p = e.DataDirectory(i, 8, &size)) sum += cm::PeRead32(p);
        sum += size;
    }
    for (uint32_t i = 0; i < e.SectionCount(); ++i) {
        const uint8_t* section = e.Section(i);
        const uint32_t va = cm::PeRead32(section + cm::SecVirtualAddress);
        for (uint32_t rva : {va, va + 1, va + cm::PeRead32(section + cm::SecVirtualSize) - 1, va + cm::PeRead32(section + cm::SecRawSize)}) {
            uint32_t available = 0;
            if (const uint8_t* p = e.Search().AddressOf(rva, &available)) sum += p[0] + p[available - 1];
        }
    }
    for (uint32_t i = 0; i < e.ExportNameCount(); ++i) {
        sum += e.ExportName(i).size();
        sum += e.ExportFunctionRva(e.ExportNameOrdinal(i));
    }
    for (uint32_t i = 0; i < e.ExportFunctionCount(); ++i) sum += e.ExportFunctionRva(i);
    sum += e.FindExport("DllMain") + e.ExportDirectoryRva() + e.ExportDirectorySize();
    if (!e.ReadOnly()) {
        e.SetConsoleSubsystem();
        e.SetCheckSum(0);
        sum += e.Subsystem();
    }
    Sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Low bits 0: memory layout; 1: a module mapped as a data file (file layout).
    for (uintptr_t bits : {0, 1}) {
        auto e = cm::TModuleExplorer::CreateForModule(data + bits, size, false);
        ReadAll(*e);
    }
    for (int mode : {cm::emMappedFile, cm::emFileCopy, cm::emLayoutCopy}) {
        try {
            auto e = cm::TModuleExplorer::CreateForFileImage(data, size, mode);
            ReadAll(*e);
        } catch (const cm::Exception&) {
        }
    }
    return 0;
}
