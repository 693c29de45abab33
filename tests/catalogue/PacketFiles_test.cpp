// Packet files, the setup package loader and the product information loader (Win32, under Wine).
#include <gtest/gtest.h>

#include "cm/Packets/PacketFile.h"
#include "cm/StreamUtils/FileStream.h"
#include "support/ScratchDirectory.h"
#include "catalogue/ProductInfoLoader.h"
#include "catalogue/SetupPackets.h"
#include "catalogue/SetupPacketsFile.h"
#include "support/MessageOf.h"
#include "support/ProductPackets.h"

namespace cm::test {
namespace {

class PacketFilesTest : public cm::test::ScratchDirectoryTest {
protected:
    static void SetUpTestSuite() { RegisterProductPackets(); }

    // Writes the packet (and any tail) to a file of the scratch directory.
    std::string WritePacket(TPacket& packet, const std::string& name, const std::string& tail = "",
                            uint32_t flags = 0) {
        const std::string path = Path(name);
        TFileStreamEx file(path, 0xFFFF);
        packet.SaveToStream(file, nullptr, flags);
        file.WriteBuffer(tail.data(), static_cast<int32_t>(tail.size()));
        return path;
    }
};

TEST_F(PacketFilesTest, SetupPackageWithTheExecutableBehindIt) {
    TSetupPacket package;
    package.SetupDateTime = 41878.5;
    auto info = std::make_unique<TSetupFilePacket>();
    info->Filename = "info.dat";
    info->Content.WriteBuffer("content", 7);
    package.Files.Add(std::move(info));
    const std::string path = WritePacket(package, "Setup.pak", std::string(100000, 'E'));

    auto loaded = LoadSetupPacket(path, 0);
    EXPECT_TRUE(loaded->Equals(package));
    EXPECT_EQ(loaded->Files.IndexOfName("INFO.DAT", false), 0);

    // The same package compressed.
    const std::string compressed = WritePacket(package, "Setup.pkz", "", sfCompressed);
    EXPECT_TRUE(LoadSetupPacket(compressed, lfCompressed)->Equals(package));
}

// A package loaded with its file contents left in the file: large contents (bodies read through
// the file) stay empty until asked for, small ones are loaded as always, everything else is
// read; a stored length beyond the file is refused as by the full load, and a file that lost the
// noted bytes meanwhile fails the later read, not silently.
TEST_F(PacketFilesTest, ContentsLeftInTheFileAreReadOnRequest) {
    TSetupPacket package;
    package.SetupDateTime = 41878.5;
    package.ProductCaption = "After the files";
    const struct {
        const char* Name;
        int32_t Size;
    } files[] = {{"info.dat", 300}, {"large.bin", 200000}, {"small.txt", 10}, {"empty", 0}, {"last.bin", 70000}};
    for (const auto& f : files) {
        auto file = std::make_unique<TSetupFilePacket>();
        file->Filename = f.Name;
        std::string bytes(static_cast<size_t>(f.Size), '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + f.Size);
        file->Content.WriteBuffer(bytes.data(), f.Size);
        package.Files.Add(std::move(file));
    }
    const std::string path = WritePacket(package, "Setup.pak", std::string(5000, 'E'));

    std::unique_ptr<TSetupPacket> loaded;
    TDeferredBlobs contents;
    loaded = LoadSetupPacket(path, 0);
    ASSERT_EQ(loaded->Files.Count(), 5);
    EXPECT_EQ(loaded->ProductCaption, "After the files");
    EXPECT_EQ(loaded->SetupDateTime, 41878.5);
    for (int32_t i = 0; i < loaded->Files.Count(); ++i) {
        SCOPED_TRACE(files[i].Name);
        TSetupFilePacket& file = *loaded->Files.Items(i);
        EXPECT_EQ(file.Filename, files[i].Name);
        const bool large = files[i].Size > 65536;
        EXPECT_EQ(contents.Find(file.Content) != nullptr, large);
        EXPECT_EQ(file.Content.Size(), large ? 0 : files[i].Size);
        LoadDeferredContent(file, contents, path);
        EXPECT_TRUE(file.Content.Equals(package.Files.Items(i)->Content));
        EXPECT_EQ(file.Content.Position(), 0);
    }
    EXPECT_TRUE(loaded->Equals(package));

    // A content length beyond the file: refused while loading, as the full load refuses it.
    std::string bytes = ReadBytes(path);
    const std::string lengthOfLarge = std::string("\x40\x0D\x03\x00", 4);  // 200,000
    const size_t at = bytes.find(lengthOfLarge);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, std::string("\x00\x00\x00\x10", 4));
    WriteBytes(Path("lying.pak"), bytes);
    const std::string full = MessageOf([&] { LoadSetupPacket(Path("lying.pak"), 0); });
    EXPECT_NE(full.find("length 268435456 exceeds the "), std::string::npos) << full;
    EXPECT_EQ(MessageOf([&] {
                  TDeferredBlobs lying;
                  LoadSetupPacket(Path("lying.pak"), 0);
              }),
              full);

    // The file cut short after the load.
    TDeferredBlobs again;
    loaded = LoadSetupPacket(path, 0);
    WriteBytes(path, ReadBytes(path).substr(0, 1000));
    EXPECT_EQ(MessageOf([&] { LoadDeferredContent(*loaded->Files.Items(1), again, path); }),
              "Failed to read the content of large.bin from file " + path + "\r\nStream read error");
    EXPECT_EQ(loaded->Files.Items(1)->Content.Size(), 0);
}

TEST_F(PacketFilesTest, FailuresNameThePacketAndTheFile) {
    TSetupEventPacket event;
    const std::string other = WritePacket(event, "event.pak");
    EXPECT_EQ(MessageOf([&] { LoadSetupPacket(other, 0); }),
              "Failed to load packet TSetupPacket from file " + other +
                  "\r\nIncompatible packet class: {188A9F7C-4ABC-4E00-8D05-111506A43D23} "
                  "({367101FD-5156-450A-92A6-E9E2B6619E74}, TSetupPacket expected)");

    const std::string missing = Path("missing.pak");
    EXPECT_EQ(MessageOf([&] { LoadSetupPacket(missing, 0); }).find("Failed to load packet TSetupPacket from file " +
                                                                    missing + "\r\n"),
              0u);

    WriteBytes(Path("short.pak"), std::string("\x02\x00\x00\x00\x5B\x00\x00\x00", 8));
    EXPECT_EQ(MessageOf([&] { LoadSetupPacket(Path("short.pak"), 0); }),
              "Failed to load packet TSetupPacket from file " + Path("short.pak") + "\r\nStream read error");
}

// The shared loader is process-wide, so its whole life is one test, in order.
TEST_F(PacketFilesTest, ProductInfoIsRebuiltUntilAFileLoads) {
    // No info.dat beside the test program: the defaults.
    TProductInfoLoader* first = ProductInfo("");
    EXPECT_EQ(first->ProductCaption, "Corvane");
    EXPECT_TRUE(first->IsDefaultProduct);
    EXPECT_EQ(first->InfoFileName, first->ModuleDir + "info.dat");
    EXPECT_FALSE(first->ModuleFileName.empty());
    TProductInfoLoader* second = ProductInfo(Path("absent.dat"));
    EXPECT_EQ(second->InfoFileName, Path("absent.dat"));

    // A file that is not product information raises.
    TSetupEventPacket event;
    const std::string wrong = WritePacket(event, "wrong.dat");
    EXPECT_EQ(MessageOf([&] { ProductInfo(wrong); }).find("Failed to load packet TProductInformationPacket from file "),
              0u);

    // A caption in capitals is still the default product; from now on the same loader.
    TProductInformationPacket info;
    info.ProductCaption = "CORVANE";
    info.VisualStudioAddIn = false;
    const std::string path = WritePacket(info, "info.dat");
    TProductInfoLoader* loaded = ProductInfo(path);
    EXPECT_EQ(loaded->ProductCaption, "CORVANE");
    EXPECT_TRUE(loaded->IsDefaultProduct);
    EXPECT_FALSE(loaded->VisualStudioAddIn);
    EXPECT_TRUE(loaded->VisualStudioBuilds);
    EXPECT_EQ(ProductInfo(Path("other.dat")), loaded);
    EXPECT_EQ(ProductInfo(""), loaded);
}

}  // namespace
}  // namespace cm::test
