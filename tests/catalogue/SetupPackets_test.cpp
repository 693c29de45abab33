#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "cm/StreamUtils/StreamUtils.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "support/MessageOf.h"
#include "support/ProductPackets.h"
#include "support/VectorStream.h"

namespace cm::test {
namespace {

class SetupPacketsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterProductPackets(); }
};

std::unique_ptr<TSetupFilePacket> FileEntry(const std::string& name, const std::string& content) {
    auto file = std::make_unique<TSetupFilePacket>();
    file->Filename = name;
    file->Description = "Product information";
    file->Components = 3;
    file->Content.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
    return file;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "|\n";
    return text;
}

TEST_F(SetupPacketsTest, FreshPacketsHaveTheirDefaultsAndAreCounted) {
    const int32_t before = TSetupPacket::Class.InstanceCount();
    {
        TSetupPacket packet;
        EXPECT_EQ(packet.ProductCaption, "Corvane");
        EXPECT_TRUE(packet.Files.IsEmpty());
        EXPECT_EQ(TSetupPacket::Class.InstanceCount(), before + 1);
        EXPECT_EQ(TSetupPacket::Class.FieldCount(), 9);
        EXPECT_EQ(TSetupFilePacket::Class.FieldCount(), 5);
        EXPECT_EQ(TSetupEventPacket::Class.FieldCount(), 4);
        EXPECT_EQ(TProductInformationPacket::Class.FieldCount(), 14);
    }
    EXPECT_EQ(TSetupPacket::Class.InstanceCount(), before);

    TProductInformationPacket info;
    EXPECT_EQ(info.ProductCaption, "Corvane");
    EXPECT_TRUE(info.VsAddIn && info.VisualStudioBuilds && info.VisualStudioAddIn);
    std::string text;
    EXPECT_EQ(info.GetFieldText(10, text), 1);
    EXPECT_EQ(text, "True");
    EXPECT_EQ(info.GetFieldText(0, text), 0);
    EXPECT_EQ(info.DumpLines()[1], "  TavrelProductMode = (?)");
}

TEST_F(SetupPacketsTest, FieldMetadata) {
    const TPacketClass& c = TSetupPacket::Class;
    EXPECT_EQ(c.FieldIndexByName("Files"), 4);
    EXPECT_EQ(c.FieldIndexByName("files"), -1);
    EXPECT_EQ(c.FieldIndexByName("NoSuchField"), -1);
    EXPECT_EQ(c.FieldName(9), "");
    EXPECT_EQ(c.FieldKind(9), fkOther);
    EXPECT_EQ(c.FieldDisplayName(4), "Files");
    EXPECT_EQ(c.FieldDescription(4), "");
    EXPECT_EQ(c.FieldDisplayDescription(4), "");
    const std::vector<TFieldKind> kinds = {fkInteger, fkFloat, fkString, fkString, fkObject,
                                           fkString, fkOther, fkOther, fkString};
    for (int32_t i = 0; i < 9; ++i)
        EXPECT_EQ(c.FieldKind(i), kinds[i]) << i;
    EXPECT_EQ(TSetupEventPacket::Class.FieldKind(2), fkInteger);
    EXPECT_EQ(TSetupEventPacket::Class.FieldKind(3), fkBoolean);
    EXPECT_EQ(TSetupFilePacket::Class.FieldKind(0), fkOther);
}

TEST_F(SetupPacketsTest, AccessorConversions) {
    TSetupPacket setup;
    TSetupEventPacket event;

    // Integers: rounding halves to even, integer text, the low bits of narrow members.
    setup.SetFieldAsDouble(0, 2.5);
    EXPECT_EQ(setup.Version, 2);
    setup.SetFieldAsDouble(0, 3.5);
    EXPECT_EQ(setup.Version, 4);
    setup.SetFieldAsDouble(0, -2.5);
    EXPECT_EQ(setup.Version, -2);
    setup.SetFieldAsString(0, "");
    EXPECT_EQ(setup.Version, 0);
    setup.SetFieldAsString(0, "-17");
    EXPECT_EQ(setup.GetFieldAsInteger(0), -17);
    EXPECT_EQ(setup.GetFieldAsString(0), "-17");
    EXPECT_EQ(setup.GetFieldAsDouble(0), -17.0);
    EXPECT_EQ(MessageOf([&] { setup.SetFieldAsString(0, "12x"); }), "'12x' is not a valid integer value");
    EXPECT_EQ(setup.Version, -17);
    event.SetFieldAsInteger(2, 0x1FF);
    EXPECT_EQ(event.ProgressPercent, 0xFF);
    event.SetFieldAsDouble(2, 258.4);
    EXPECT_EQ(event.ProgressPercent, 2);

    // Booleans.
    event.SetFieldAsString(3, "TRUE");
    EXPECT_TRUE(event.EnableRetry);
    event.SetFieldAsString(3, "yes");
    EXPECT_FALSE(event.EnableRetry);
    event.SetFieldAsInteger(3, 2);
    EXPECT_TRUE(event.EnableRetry);
    EXPECT_EQ(event.GetFieldAsInteger(3), 1);
    EXPECT_EQ(event.GetFieldAsString(3), "True");

    // Date-times: 4 significant digits as text, the value as double.
    setup.SetFieldAsDouble(1, 41878.156644675924);
    EXPECT_EQ(setup.GetFieldAsString(1).substr(0, 6), "4.188E");
    EXPECT_EQ(setup.GetFieldAsDouble(1), 41878.156644675924);
    std::string text;
    EXPECT_EQ(setup.GetFieldText(1, text), 1);
    EXPECT_EQ(text, "2014-08-27 03:45:34");
    setup.SetFieldAsString(1, " 1.5 ");
    EXPECT_EQ(setup.SetupDateTime, 1.5);
    EXPECT_EQ(MessageOf([&] { setup.SetFieldAsString(1, "1,5"); }), "'1,5' is not a valid floating point value");

    // Strings and objects.
    setup.SetFieldAsString(2, "licence");
    EXPECT_EQ(setup.LicenseAgreement, "licence");
    EXPECT_EQ(setup.GetFieldAsObject(4).AsPacketList(), &setup.Files);

    // Combinations a field does not offer.
    struct Case {
        std::function<void()> call;
        const char* message;
    };
    const std::vector<Case> refused = {
        {[&] { setup.GetFieldAsInteger(4); }, "Cannot get field as integer: TSetupPacket.Files"},
        {[&] { setup.GetFieldAsInteger(9); }, "Cannot get field as integer: TSetupPacket."},
        {[&] { setup.SetFieldAsInteger(1, 1); }, "Cannot set field as integer: TSetupPacket.SetupDateTime"},
        {[&] { setup.GetFieldAsString(6); }, "Cannot get field as string: TSetupPacket.GridServiceID"},
        {[&] { setup.SetFieldAsString(4, ""); }, "Cannot set field as string: TSetupPacket.Files"},
        {[&] { setup.GetFieldAsDouble(2); }, "Cannot get field as double: TSetupPacket.LicenseAgreement"},
        {[&] { event.SetFieldAsDouble(3, 1); }, "Cannot set field as double: TSetupEventPacket.EnableRetry"},
        {[&] { event.GetFieldAsObject(1); }, "Cannot get field as object: TSetupEventPacket.Text"},
        {[&] { event.GetFieldAsInteger(0); }, "Cannot get field as integer: TSetupEventPacket.Event"},
    };
    for (const Case& c : refused)
        EXPECT_EQ(MessageOf(c.call), c.message);
}

TEST_F(SetupPacketsTest, DumpOfAPackageWithOneFile) {
    TSetupPacket setup;
    setup.SetupDateTime = 41878.5;
    setup.LicenseAgreement = std::string("a\0b", 3);
    setup.Files.Add(FileEntry("info.dat", "12345"));
    EXPECT_EQ(Joined(setup.DumpLines()),
              "(TSetupPacket)|\n"
              "  Version = 0|\n"
              "  SetupDateTime = 2014-08-27 12:00:00|\n"
              "  LicenseAgreement = 'a b'|\n"
              "  SetupHelpHtml = ''|\n"
              "  Files = |\n"
              "    [1/1]|\n"
              "    (TSetupFilePacket)|\n"
              "      Components = (?)|\n"
              "      Flags = (?)|\n"
              "      Filename = 'info.dat'|\n"
              "      Description = 'Product information'|\n"
              "      Content = (size = 5)|\n"
              "    |\n"
              "  ProductCaption = 'Corvane'|\n"
              "  GridServiceID = {00000000-0000-0000-0000-000000000000}|\n"
              "  CoordinatorServiceID = {00000000-0000-0000-0000-000000000000}|\n"
              "  ChmHelpFile = ''|\n");

    TSetupPacket empty;
    const std::vector<std::string> lines = empty.DumpLines();
    EXPECT_EQ(lines[5], "  Files = ");
    EXPECT_EQ(lines[6], "    (empty list)");
    EXPECT_EQ(empty.Files.DumpText(), "(empty list)");
    TStringListEx list;
    empty.DumpToStrings(list);
    EXPECT_EQ(list.Count(), static_cast<int32_t>(lines.size()));
}

TEST_F(SetupPacketsTest, IndexOfName) {
    TSetupFilePacketList files;
    files.Add(FileEntry("setup\\a.dll", ""));
    files.Add(FileEntry("info.dat", ""));
    files.Add(FileEntry("info.dat", ""));
    files.Add(FileEntry("", ""));
    EXPECT_EQ(files.IndexOfName("INFO.DAT", false), 1);
    EXPECT_EQ(files.IndexOfName("INFO.DAT", true), -1);
    EXPECT_EQ(files.IndexOfName("info.dat", true), 1);
    EXPECT_EQ(files.IndexOfName("info.da", false), -1);
    EXPECT_EQ(files.IndexOfName("", false), 3);
}

TEST_F(SetupPacketsTest, OlderPackageAndEmptyContent) {
    TSetupPacket written;
    written.Version = 3;
    written.Files.Add(FileEntry("empty.txt", ""));
    VectorStream stream;
    written.SaveToStream(stream);
    // Pretend a writer with 5 fields: cut the body after Files and fix the header.
    TSetupPacket fresh;
    VectorStream tail;
    WriteString(tail, "Corvane");
    const size_t trailing = tail.Bytes.size() + 16 + 16 + 1;
    stream.Bytes.resize(stream.Bytes.size() - trailing);
    const int32_t totalSize = static_cast<int32_t>(stream.Bytes.size()), fieldCount = 5;
    std::memcpy(&stream.Bytes[4], &totalSize, 4);
    std::memcpy(&stream.Bytes[8], &fieldCount, 4);
    stream.Pos = 0;

    TSetupPacket loaded;
    loaded.ProductCaption = "Kept";
    loaded.ChmHelpFile = "kept.chm";
    loaded.GridServiceID.D1 = 7;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.Version, 3);
    EXPECT_EQ(loaded.ProductCaption, "Kept");
    EXPECT_EQ(loaded.ChmHelpFile, "kept.chm");
    EXPECT_EQ(loaded.GridServiceID.D1, 7u);
    ASSERT_EQ(loaded.Files.Count(), 1);
    EXPECT_EQ(loaded.Files.Items(0)->Content.Size(), 0);
    EXPECT_EQ(loaded.Files.Items(0)->Content.Position(), 0);
}

TEST_F(SetupPacketsTest, CompareFieldsReportsVersionAndHelpFile) {
    TSetupPacket a, b;
    b.Version = 1;
    b.ChmHelpFile = "x.chm";
    std::vector<int32_t> reported;
    EXPECT_FALSE(a.CompareFields(b, [&](int32_t index) { reported.push_back(index); }));
    EXPECT_EQ(reported, (std::vector<int32_t>{0, 8}));
    b.Version = 0;
    b.ChmHelpFile.clear();
    reported.clear();
    EXPECT_TRUE(a.CompareFields(b, [&](int32_t index) { reported.push_back(index); }));
    EXPECT_TRUE(reported.empty());
}

TEST_F(SetupPacketsTest, InformationFileOfAnOlderVersionKeepsLaterDefaults) {
    // A writer with 4 fields: the three modes and the caption.
    VectorStream stream;
    const TPacketHeader header{PacketFormatVersion, 32 + 2 + 2 + 2 + 1 + 5, 4, 0, TProductInformationPacket::Class.Guid};
    stream.WriteBuffer(&header, sizeof header);
    for (uint8_t mode : {1, 2, 3}) {
        WriteByte(stream, 1);
        WriteByte(stream, mode);
    }
    WriteString(stream, "Other");
    stream.Pos = 0;
    TProductInformationPacket info;
    info.LoadFromStream(stream);
    EXPECT_EQ(info.ProductCaption, "Other");
    EXPECT_EQ(info.SetupExecutionMode, 3);
    EXPECT_TRUE(info.VsAddIn && info.VisualStudioBuilds && info.VisualStudioAddIn);
    EXPECT_EQ(info.DefaultPortAgentService, 0);
}

}  // namespace
}  // namespace cm::test
