// Packet readers on arbitrary data. The first byte picks the reader:
//   0 CreateFromStream, full form, memory stream      1 the same through a plain stream
//   2 compact form: packets read with one context until the data ends or fails
//   3 compressed ("sdc2") full form                   4 a setup package read in place
// A packet that reads must write, read back and write again to the same bytes (bytes, not Equals:
// a NaN date never equals itself).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cm/Packets/Packets.h"
#include "cm/StreamUtils/PointerStream.h"
#include "packets/ProductInformation.h"
#include "packets/SetupPackets.h"
#include "support/ProductPackets.h"
#include "support/VectorStream.h"

namespace {

void CheckRoundTrip(cm::TPacket& packet) {
    cm::TVirtualStream first;
    packet.SaveToStream(first);
    first.Rewind();
    auto again = cm::TPacket::CreateFromStream(first);
    cm::TVirtualStream second;
    again->SaveToStream(second);
    if (!second.Equals(first))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cm::test::RegisterProductPackets();
    if (size < 1 || size > (1 << 20))
        return 0;
    const uint8_t mode = data[0] % 5;
    const void* body = data + 1;
    const int32_t length = static_cast<int32_t>(size - 1);
    try {
        cm::TPointerStream memory(body, length);
        switch (mode) {
            case 0: CheckRoundTrip(*cm::TPacket::CreateFromStream(memory)); break;
            case 1: {
                cm::test::VectorStream plain(std::vector<uint8_t>(data + 1, data + size));
                CheckRoundTrip(*cm::TPacket::CreateFromStream(plain));
                break;
            }
            case 2: {
                cm::TPacketReadContext context;
                while (memory.Position() < memory.Size())
                    cm::TPacket::CreateFromStream(memory, &context);
                break;
            }
            case 3: CheckRoundTrip(*cm::TPacket::CreateFromStream(memory, nullptr, cm::lfCompressed)); break;
            case 4: {
                cm::TSetupPacket package;
                package.LoadFromStream(memory);
                package.Files.IndexOfName("info.dat", false);
                CheckRoundTrip(package);
                break;
            }
        }
    } catch (const cm::Exception&) {
        // Refused with a message: what the readers must do with bad data.
    }
    return 0;
}
