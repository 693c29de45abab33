// corvane-packet: reads the packets of the product's programs; see PacketTool.h and --help.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "PacketTool.h"
#include "catalogue/PacketModules.h"

int main(int argc, char** argv) {
    try {
        // The program's packet modules: the same classes under the same numbers.
        cm::TModuleRunner modules(cm::PacketModules());
        const int code = packettool::RunPacketTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
        std::cout.flush();
        return code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-packet: %s\n", e.what());
        return packettool::ExitFailure;
    }
}
