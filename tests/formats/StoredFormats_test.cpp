// Stored formats do not depend on the build: a setup package, a compact packet stream, a
// compressed packet and "sdc2" streams of every codec, made from fixed inputs, must be byte for
// byte the golden files checked in beside this test, and the golden files must read back. The
// same test runs in the host, x86 and x64 builds, so each reads what the others write.
//
// CORVANE_WRITE_GOLDEN=1 writes the files instead of comparing (done once, by the host build).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cm/Packets/Packets.h"
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/VirtualStream.h"
#include "helpers/PackageBuilder.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "support/ProductPackets.h"

namespace cm::test {
namespace {

// Forward slashes serve both: Windows takes them too ("Z:/..." under Wine).
std::string GoldenPath(const std::string& name) { return std::string(CORVANE_GOLDEN_DIR) + "/" + name; }

bool Writing() {
    const char* value = std::getenv("CORVANE_WRITE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

// Compares bytes with the golden file, or writes it when asked to.
void ExpectGolden(const std::string& name, const std::string& bytes) {
    const std::string path = GoldenPath(name);
    if (Writing()) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing golden file " << path;
    const std::string golden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(golden.size(), bytes.size()) << name;
    size_t first = 0;
    while (first < golden.size() && golden[first] == bytes[first]) ++first;
    EXPECT_EQ(first, golden.size()) << name << " differs first at byte " << first;
}

std::string Bytes(TVirtualStream& stream) {
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

// 150,000 bytes: text, a repeated block and pseudo-random bytes (a fixed linear congruential
// sequence), so that every codec both matches and stores literals.
std::string MixedInput() {
    std::string text;
    for (int i = 0; text.size() < 60000; ++i)
        text += "line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog\r\n";
    text.resize(60000);
    std::string data = text + std::string(30000, 'z');
    uint32_t state = 12345;
    while (data.size() < 150000) {
        state = state * 1103515245u + 12345u;
        data += static_cast<char>(state >> 24);
    }
    return data;
}

cm::test::PackageContents GoldenPackage() {
    cm::test::PackageContents contents;
    contents.Caption = "Corvane Golden";
    contents.SetupDateTime = 41878.15664;  // 27 Aug 2014 03:45:33
    const std::string mixed = MixedInput();
    contents.Files = {{"readme.txt", "CORVANE GOLDEN PACKAGE\r\n"},
                      {"bin\\data.bin", mixed.substr(60000, 5000)}};
    contents.SetupImage = "MZ" + std::string(510, '\0') + "golden setup image";
    return contents;
}

class StoredFormatsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterProductPackets(); }
};

TEST_F(StoredFormatsTest, SetupPackageIsTheGoldenFileAndReadsBack) {
    const std::string package = cm::test::BuildSetupPackage(GoldenPackage());
    ExpectGolden("setup_package.pak", package);

    TVirtualStream stream;
    stream.WriteBuffer(package.data(), static_cast<int32_t>(package.size()));
    stream.SetPosition(0);
    TSetupPacket read;
    read.LoadFromStream(stream);
    EXPECT_DOUBLE_EQ(read.SetupDateTime, 41878.15664);
    ASSERT_EQ(read.Files.Count(), 3);
    EXPECT_EQ(read.Files.Items(0)->Filename, "info.dat");
    EXPECT_EQ(read.Files.Items(2)->Filename, "bin\\data.bin");
    EXPECT_EQ(Bytes(read.Files.Items(2)->Content), MixedInput().substr(60000, 5000));
    EXPECT_EQ(package.substr(static_cast<size_t>(stream.Position())), GoldenPackage().SetupImage);
}

// The compact form (two packets through one context) and the compressed full form.
TEST_F(StoredFormatsTest, CompactAndCompressedPacketsAreTheGoldenFiles) {
    const std::string package = cm::test::BuildSetupPackage(GoldenPackage());
    TVirtualStream source;
    source.WriteBuffer(package.data(), static_cast<int32_t>(package.size()));
    source.SetPosition(0);
    TSetupPacket packet;
    packet.LoadFromStream(source);

    TVirtualStream compact;
    TPacketWriteContext writeContext;
    packet.SaveToStream(compact, &writeContext);
    packet.SaveToStream(compact, &writeContext);
    ExpectGolden("setup_packet_compact.bin", Bytes(compact));

    TVirtualStream compressed;
    packet.SaveToStream(compressed, nullptr, sfCompressed);
    ExpectGolden("setup_packet_compressed.bin", Bytes(compressed));

    compact.SetPosition(0);
    TPacketReadContext readContext;
    for (int i = 0; i < 2; ++i) {
        TSetupPacket again;
        again.LoadFromStream(compact, &readContext);
        EXPECT_TRUE(again.Equals(packet)) << i;
    }
    compressed.SetPosition(0);
    TSetupPacket unpacked;
    unpacked.LoadFromStream(compressed, nullptr, lfCompressed);
    EXPECT_TRUE(unpacked.Equals(packet));
}

TEST_F(StoredFormatsTest, CompressedStreamsOfEveryCodecAreTheGoldenFiles) {
    const std::string input = MixedInput();
    for (const int32_t id : {cfMiniLzo, cfQuickLz, cfQuickLz131}) {
        SCOPED_TRACE(id);
        TVirtualStream source;
        source.WriteBuffer(input.data(), static_cast<int32_t>(input.size()));
        source.SetPosition(0);
        TVirtualStream packed;
        CompressStream(source, static_cast<int32_t>(input.size()), packed, id);
        ExpectGolden("sdc2_id" + std::to_string(id) + ".bin", Bytes(packed));

        packed.SetPosition(0);
        TDecompressStream reader(&packed, -1, false, 1);
        std::string unpacked(input.size(), '\0');
        reader.ReadBuffer(unpacked.data(), static_cast<int32_t>(unpacked.size()));
        EXPECT_EQ(unpacked, input);
    }
}

}  // namespace
}  // namespace cm::test
