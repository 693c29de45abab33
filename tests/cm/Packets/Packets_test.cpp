#include <gtest/gtest.h>
#ifdef _WIN32
#include "cm/Objects/WinApi.h"
#endif

#include <cstring>
#include <functional>
#include <vector>

#include "cm/Packets/PacketTestClasses.h"
#include "cm/Lists/StringListEx.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/StreamUtils.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "support/MessageOf.h"
#include "support/PacketBytes.h"
#include "support/VectorStream.h"

namespace cm::test {
namespace {

using Bytes = std::vector<uint8_t>;

class PacketsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterTestPackets(); }
};

void PutInt32(Bytes& bytes, size_t offset, int32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

// A packet with a non-default value in every field.
std::unique_ptr<TAllFieldsPacket> FilledPacket() {
    auto p = std::make_unique<TAllFieldsPacket>();
    p->I8 = -5;
    p->U8 = 250;
    p->I16 = -30000;
    p->U16 = 60000;
    p->I32 = 123456789;
    p->U32 = 0xFEDCBA98;
    p->I64 = -1234567890123LL;
    p->Compact = 1000;
    p->Flag = false;
    p->Real = 3.25;
    p->When = 41878.156644675924;
    p->Colour = TTestColour::Blue;
    p->Id = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    p->Six = {0x0102, 0x03040506};
    p->Text = std::string("a\0b", 3);
    p->Wide = u"wide \u20AC";
    p->Lines.Add("one");
    p->Lines.Add("");
    p->Lines.Add("three");
    p->LinesText.Add("x");
    p->LinesText.Add("y");
    p->Data.WriteBuffer("blob!", 5);
    static_cast<TTinyPacket&>(*p->Nested).A = 11;
    auto maybe = std::make_unique<TTinyPacket>();
    maybe->S = "maybe";
    p->Maybe = std::move(maybe);
    for (int i = 0; i < 3; ++i) {
        auto t = std::make_unique<TTinyPacket>();
        t->A = i;
        p->Tinies.Add(std::move(t));
    }
    p->Numbers.Add(4);
    p->Numbers.Add(-9);
    p->Handle = -2;
    return p;
}

// ---- The byte layouts ----------------------------------------------------------------------------

TEST_F(PacketsTest, FreshSetupEventPacketIsThe37BytesOfTheFormat) {
    TSetupEventPacket packet;
    const Bytes expected = {0x02, 0, 0, 0, 0x25, 0, 0, 0, 0x04, 0, 0, 0, 0, 0, 0, 0,
                            0x7C, 0x9F, 0x8A, 0x18, 0xBC, 0x4A, 0x00, 0x4E, 0x8D, 0x05, 0x11, 0x15, 0x06, 0xA4, 0x3D, 0x23,
                            0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(SavePacket(packet), expected);
}

TEST_F(PacketsTest, CompactFormWritesTheClassRecordOnceThenTheContextId) {
    TSetupEventPacket packet;
    TPacketWriteContext context;
    VectorStream stream;
    packet.SaveToStream(stream, &context);
    packet.SaveToStream(stream, &context);
    const Bytes body = {0x01, 0x00, 0x00, 0x00, 0x00};
    Bytes expected = {0x00, 0x00, 0x04, 0x00, 0x7C, 0x9F, 0x8A, 0x18, 0xBC, 0x4A, 0x00, 0x4E,
                      0x8D, 0x05, 0x11, 0x15, 0x06, 0xA4, 0x3D, 0x23};
    expected.insert(expected.end(), body.begin(), body.end());
    expected.push_back(0x02);
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(stream.Bytes, expected);

    // Read back with one read context: the second packet names the class by its ID.
    TPacketReadContext readContext;
    stream.Pos = 0;
    auto first = TPacket::CreateFromStream(stream, &readContext);
    auto second = TPacket::CreateFromStream(stream, &readContext);
    EXPECT_EQ(&first->ClassType(), &TSetupEventPacket::Class);
    EXPECT_TRUE(second->Equals(packet));
    EXPECT_EQ(stream.Pos, static_cast<int32_t>(expected.size()));
    ASSERT_EQ(readContext.Entries.size(), 1u);
    EXPECT_EQ(readContext.Entries[0].StoredFieldCount, 4);

    // A frozen context learns no classes: the second packet's ID then names nothing.
    TPacketReadContext frozen;
    frozen.Frozen = true;
    stream.Pos = 0;
    TPacket::CreateFromStream(stream, &frozen);
    EXPECT_TRUE(frozen.Entries.empty());
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(stream, &frozen); }), "Invalid streaming context ID: 1");
}

TEST_F(PacketsTest, FreshSetupPacketIs91Bytes) {
    TSetupPacket packet;
    const Bytes bytes = SavePacket(packet);
    ASSERT_EQ(bytes.size(), 91u);
    int32_t totalSize, fieldCount;
    std::memcpy(&totalSize, &bytes[4], 4);
    std::memcpy(&fieldCount, &bytes[8], 4);
    EXPECT_EQ(totalSize, 91);
    EXPECT_EQ(fieldCount, 9);
    // "Corvane" with its length byte at offset 32 + 4 + 8 + 1 + 1 + 4.
    EXPECT_EQ(bytes[50], 7 * 2);
    EXPECT_EQ(std::string(bytes.begin() + 51, bytes.begin() + 58), "Corvane");
}

TEST_F(PacketsTest, ClassWithoutFieldsIsTheHeaderAlone) {
    TPacket packet;
    VectorStream stream;
    packet.SaveToStream(stream);
    ASSERT_EQ(stream.Bytes.size(), 32u);
    stream.Bytes.push_back(0xAA);  // the next packet's data stays untouched
    stream.Pos = 0;
    packet.LoadFromStream(stream);
    EXPECT_EQ(stream.Pos, 32);
}

TEST_F(PacketsTest, StringLengthsUseTheCompactForm) {
    struct Case {
        size_t length;
        Bytes prefix;
    };
    for (const Case& c : {Case{0, {0x00}}, Case{127, {0xFE}}, Case{128, {0x01, 0x01, 0x00, 0x00}}}) {
        VectorStream stream;
        WriteString(stream, std::string(c.length, 'x'));
        EXPECT_EQ(Bytes(stream.Bytes.begin(), stream.Bytes.begin() + c.prefix.size()), c.prefix) << c.length;
        EXPECT_EQ(stream.Bytes.size(), c.prefix.size() + c.length);
        stream.Pos = 0;
        EXPECT_EQ(ReadString(stream).size(), c.length);
    }
}

// The public field readers take a field from the stream's position and leave the stream after it,
// on a memory stream (parsed in place) as on any other.
TEST_F(PacketsTest, FieldReadersAdvanceEveryStream) {
    struct Case {
        const char* Name;
        std::function<void(TStream&, int)> Write;  // the field numbered 0 or 1
        std::function<std::string(TStream&)> Read;  // the field read back, as text
    };
    const Case cases[] = {
        {"string", [](TStream& s, int i) { WriteString(s, i == 0 ? "abc" : "xy"); },
         [](TStream& s) { return ReadString(s); }},
        {"wide string", [](TStream& s, int i) { WriteWideString(s, i == 0 ? u"abc" : u"xy", true); },
         [](TStream& s) {
             const std::u16string value = ReadWideString(s);
             return std::string(value.begin(), value.end());  // ASCII here
         }},
        {"string list", [](TStream& s, int i) {
             TStringListEx list;
             list.Add(i == 0 ? "abc" : "xy");
             WriteStringList(s, list);
         },
         [](TStream& s) {
             TStringListEx list;
             ReadStringList(s, list);
             return list.Count() == 1 ? list[0] : std::string("?");
         }},
        {"stream field", [](TStream& s, int i) {
             TVirtualStream value;
             const std::string text = i == 0 ? "abc" : "xy";
             value.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
             WriteStreamField(s, value, true);
         },
         [](TStream& s) {
             TVirtualStream value;
             ReadStreamField(s, value, true);
             return std::string(static_cast<const char*>(value.Memory()), static_cast<size_t>(value.Size()));
         }},
        {"fixed", [](TStream& s, int i) { WriteFixed(s, i == 0 ? "abc" : "xy\0", 3); },
         [](TStream& s) {
             char value[4] = {};
             ReadFixed(s, value, 3);
             return std::string(value);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TVirtualStream memory;
        VectorStream plain;
        for (TStream* stream : {static_cast<TStream*>(&memory), static_cast<TStream*>(&plain)}) {
            c.Write(*stream, 0);
            c.Write(*stream, 1);
            const int32_t end = stream->Position();
            stream->Seek(0, soBeginning);
            EXPECT_EQ(c.Read(*stream), "abc");
            EXPECT_EQ(c.Read(*stream), "xy");
            EXPECT_EQ(stream->Position(), end);
        }
        // A memory stream positioned before its data is refused, never read before its buffer.
        memory.Seek(-3, soBeginning);
        EXPECT_THROW(c.Read(memory), EStreamError);
    }
}

// Integer text is taken only within what the member holds: 32 bits for members up to 32 bits
// (an unsigned one up to its maximum), 64 for a 64-bit member; a narrower member keeps the low
// bits of a 32-bit value, as when set from an integer.
TEST_F(PacketsTest, IntegerTextFitsTheMember) {
    struct Case {
        const char* Field;
        const char* Text;
        const char* Stored;  // nullptr: refused
    };
    const Case cases[] = {
        {"I32", "2147483647", "2147483647"}, {"I32", "5000000000", nullptr}, {"I32", "-2147483649", nullptr},
        {"U32", "4294967295", "4294967295"}, {"U32", "4294967296", nullptr}, {"U32", "$FF", "255"},
        {"I64", "5000000000", "5000000000"}, {"I64", "-9223372036854775808", "-9223372036854775808"},
        {"I64", "9223372036854775808", nullptr}, {"U8", "511", "255"}, {"U8", "5000000000", nullptr},
        {"I16", "-1", "-1"}, {"Compact", "5000000000", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Field) + " <- " + c.Text);
        TAllFieldsPacket packet;
        const int32_t index = TAllFieldsPacket::Class.FieldIndexByName(c.Field);
        ASSERT_GE(index, 0);
        const std::string before = packet.GetFieldAsString(index);
        if (c.Stored) {
            packet.SetFieldAsString(index, c.Text);
            EXPECT_EQ(packet.GetFieldAsString(index), c.Stored);
        } else {
            EXPECT_EQ(MessageOf([&] { packet.SetFieldAsString(index, c.Text); }),
                      "'" + std::string(c.Text) + "' is not a valid integer value");
            EXPECT_EQ(packet.GetFieldAsString(index), before);
        }
    }
}

// Wide-string fields meet 8-bit text through the system's code page on Windows (here: the euro
// sign, byte 0x80 in code page 1252) and as Latin-1 on the host.
TEST_F(PacketsTest, WideTextGoesThroughTheSystemCodePage) {
    TAllFieldsPacket packet;
    const int32_t wide = TAllFieldsPacket::Class.FieldIndexByName("Wide");
    ASSERT_GE(wide, 0);
#ifdef _WIN32
    if (::GetACP() != 1252) GTEST_SKIP() << "the system code page is " << ::GetACP() << ", not 1252";
    const std::u16string euroFromByte = u"\u20AC";
    const std::string euroText = "\x80";
#else
    const std::u16string euroFromByte = u"\u0080";
    const std::string euroText = "?";
#endif
    packet.SetFieldAsString(wide, "price \x80");
    EXPECT_TRUE(packet.Wide == u"price " + euroFromByte);
    packet.Wide = u"price \u20AC";
    EXPECT_EQ(packet.GetFieldAsString(wide), "price " + euroText);
}

// TPacket itself is a class like any other: the registry creates it from a stream, Clone copies it.
TEST_F(PacketsTest, BareTPacketIsConstructedLikeAnyClass) {
    TPacket bare;
    TVirtualStream stream;
    bare.SaveToStream(stream);
    stream.SetPosition(0);
    std::unique_ptr<TPacket> read = TPacket::CreateFromStream(stream);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(&read->ClassType(), &TPacket::Class);
    std::unique_ptr<TPacket> clone = bare.Clone();
    EXPECT_EQ(&clone->ClassType(), &TPacket::Class);
    EXPECT_TRUE(clone->Equals(bare));
}

// ---- Round trips ---------------------------------------------------------------------------------

TEST_F(PacketsTest, EveryFieldRoundTripsInEveryForm) {
    auto source = FilledPacket();
    struct Form {
        const char* name;
        bool context;
        uint32_t saveFlags, loadFlags;
    };
    for (const Form& form : {Form{"full", false, 0, 0}, Form{"compact", true, 0, 0},
                             Form{"buffered", false, sfBuffered, 0}, Form{"compressed", false, sfCompressed, lfCompressed},
                             Form{"compact compressed", true, sfCompressed | sfBuffered, lfCompressed}}) {
        SCOPED_TRACE(form.name);
        TPacketWriteContext writeContext;
        TPacketReadContext readContext;
        const Bytes bytes = SavePacket(*source, form.context ? &writeContext : nullptr, form.saveFlags);

        // Through a plain stream, through a memory stream, and into an existing instance.
        VectorStream plain(bytes);
        auto viaStream = TPacket::CreateFromStream(plain, form.context ? &readContext : nullptr, form.loadFlags);
        EXPECT_TRUE(viaStream->Equals(*source));
        EXPECT_EQ(viaStream->DumpLines(), source->DumpLines());

        TPacketReadContext readContext2;
        TPointerStream memory(static_cast<const void*>(bytes.data()), static_cast<int32_t>(bytes.size()));
        auto viaMemory = TPacket::CreateFromStream(memory, form.context ? &readContext2 : nullptr, form.loadFlags);
        EXPECT_TRUE(viaMemory->Equals(*source));
        if (!(form.loadFlags & lfCompressed)) {
            EXPECT_EQ(memory.Position(), static_cast<int32_t>(bytes.size()));
        }

        TPacketReadContext readContext3;
        TAllFieldsPacket into;
        VectorStream again(bytes);
        into.LoadFromStream(again, form.context ? &readContext3 : nullptr, form.loadFlags);
        EXPECT_TRUE(into.Equals(*source));
    }
}

// A handle field is a fixed field of 4 bytes; it reads back sign-extended, so that the
// pseudo-handles keep their values on x64 too, and offers integer access and decimal text.
TEST_F(PacketsTest, HandleFieldsTravelAsFourBytesSignExtended) {
    const int32_t index = TAllFieldsPacket::Class.FieldIndexByName("Handle");
    TAllFieldsPacket p;
    p.Handle = -2;
    Bytes bytes = SavePacket(p);
    const Bytes tail(bytes.end() - 5, bytes.end());
    EXPECT_EQ(tail, (Bytes{0x04, 0xFE, 0xFF, 0xFF, 0xFF}));
    VectorStream stream(bytes);
    auto back = TPacket::CreateFromStream(stream);
    EXPECT_EQ(static_cast<TAllFieldsPacket&>(*back).Handle, TPacketHandle{-2});

    EXPECT_EQ(TAllFieldsPacket::Class.FieldKind(index), fkInteger);
    p.SetFieldAsInteger(index, -1);
    EXPECT_EQ(p.Handle, TPacketHandle{-1});
    p.SetFieldAsString(index, "4660");
    EXPECT_EQ(p.GetFieldAsInteger(index), 4660);
    std::string text;
    EXPECT_EQ(p.GetFieldText(index, text), 1);
    EXPECT_EQ(text, "4660");
    // A stored field of 2 bytes (an older, narrower writer) is taken zero-extended into 4.
    bytes.erase(bytes.end() - 5, bytes.end());
    for (uint8_t b : {0x02, 0x34, 0x12}) bytes.push_back(b);
    PutInt32(bytes, 4, static_cast<int32_t>(bytes.size()));
    VectorStream narrow(bytes);
    EXPECT_EQ(static_cast<TAllFieldsPacket&>(*TPacket::CreateFromStream(narrow)).Handle, TPacketHandle{0x1234});
}

// Tables that would fail at the first read or write are refused when their class registers.
class TNoItemClassPacket : public TPacket {
    CM_PACKET_CLASS(TNoItemClassPacket)
    std::unique_ptr<TPacket> Inner;
};
class TAbstractItemPacket : public TPacket {
    CM_PACKET_CLASS(TAbstractItemPacket)
    std::unique_ptr<TPacket> Inner;
};
const TPacketClass AbstractClass{"TAbstractPacket", {0x7E5700A0, 0, 0, {}}, &TPacket::Class, nullptr, 0, nullptr};
constexpr TFieldDef NoItemClassFields[] = {Field<TFieldCoding::OptionalPacket, &TNoItemClassPacket::Inner>("Inner")};
constexpr TFieldDef AbstractItemFields[] = {
    Field<TFieldCoding::Packet, &TAbstractItemPacket::Inner>("Inner", 0, nullptr, &AbstractClass)};
const TPacketClass TNoItemClassPacket::Class{"TNoItemClassPacket", {0x7E5700A1, 0, 0, {}}, &TPacket::Class,
                                             NoItemClassFields, 1, &TNoItemClassPacket::CreateInstance};
const TPacketClass TAbstractItemPacket::Class{"TAbstractItemPacket", {0x7E5700A2, 0, 0, {}}, &TPacket::Class,
                                              AbstractItemFields, 1, &TAbstractItemPacket::CreateInstance};

TEST_F(PacketsTest, NestedFieldsWithoutACreatableItemClassAreRefusedAtRegistration) {
    EXPECT_EQ(MessageOf([] { RegisterPacketClass(TNoItemClassPacket::Class); }),
              "Failed to register packet class: TNoItemClassPacket\r\nField TNoItemClassPacket.Inner names no item class");
    EXPECT_EQ(MessageOf([] { RegisterPacketClass(TAbstractItemPacket::Class); }),
              "Failed to register packet class: TAbstractItemPacket\r\n"
              "Item class TAbstractPacket of field TAbstractItemPacket.Inner cannot be created");
    EXPECT_EQ(TNoItemClassPacket::Class.ClassNumber, -1);
    EXPECT_EQ(FindPacketClass(TAbstractItemPacket::Class.Guid), nullptr);
}

// A compressed packet saved into a reused memory stream that held more: the stream ends with the
// packet, so that a reader of the whole stream finds exactly it.
TEST_F(PacketsTest, CompressedPacketIntoAReusedStreamReadsBack) {
    TVirtualStream stream;
    const Bytes stale(200000, 0x5A);
    stream.WriteBuffer(stale.data(), static_cast<int32_t>(stale.size()));
    stream.SetPosition(0);
    TTinyPacket packet;
    packet.A = 42;
    packet.SaveToStream(stream, nullptr, sfCompressed);
    EXPECT_EQ(stream.Position(), stream.Size());
    stream.SetPosition(0);
    TTinyPacket read;
    read.LoadFromStream(stream, nullptr, lfCompressed);
    EXPECT_TRUE(read.Equals(packet));
}

// A packet followed by other data takes nothing of it from the stream: the full form stops at the
// end its header gives, the compact form on a stream that cannot go back reads only what it needs.
TEST_F(PacketsTest, ReadingAPacketTakesNothingBeyondIt) {
    const Bytes trailing(100000, 0x77);
    {
        TSetupEventPacket packet;
        VectorStream stream;
        packet.SaveToStream(stream);
        ASSERT_EQ(stream.Bytes.size(), 37u);
        stream.Bytes.insert(stream.Bytes.end(), trailing.begin(), trailing.end());
        stream.Pos = 0;
        TSetupEventPacket read;
        read.LoadFromStream(stream);
        EXPECT_EQ(stream.BytesHandedOut, 37);
        EXPECT_EQ(stream.Pos, 37);
    }
    {
        TTinyPacket packet;
        packet.S = std::string(5000, 's');
        VectorStream stream;
        TPacketWriteContext writeContext;
        packet.SaveToStream(stream, &writeContext);
        const int32_t first = stream.Pos;
        packet.SaveToStream(stream, &writeContext);
        const int32_t second = stream.Pos - first;
        stream.Bytes.insert(stream.Bytes.end(), trailing.begin(), trailing.end());
        stream.Pos = 0;
        stream.CanSeek = false;
        TPacketReadContext readContext;
        TTinyPacket read;
        read.LoadFromStream(stream, &readContext);
        EXPECT_EQ(stream.BytesHandedOut, first);
        read.LoadFromStream(stream, &readContext);
        EXPECT_EQ(stream.BytesHandedOut, first + second);
        EXPECT_TRUE(read.Equals(packet));
    }
}

// Bodies up to 64 KB are parsed from one read, larger ones field by field; either way a plain
// stream sees a handful of reads (the read-ahead serves the small ones), and the packet is the same.
TEST_F(PacketsTest, LargeBodiesCostFewStreamReads) {
    for (int32_t bodySize : {65536, 65537, 1000000}) {
        TTinyPacket packet;
        packet.S.assign(static_cast<size_t>(bodySize - 4 - 4), 's');  // A, compact length, text
        VectorStream stream(SavePacket(packet));
        ASSERT_EQ(stream.Bytes.size(), static_cast<size_t>(32 + bodySize));
        stream.Bytes.push_back(0xEE);
        TTinyPacket loaded;
        stream.Reads = 0;
        loaded.LoadFromStream(stream);
        EXPECT_TRUE(loaded.Equals(packet)) << bodySize;
        EXPECT_LE(stream.Reads, 3) << bodySize;
        EXPECT_EQ(stream.Pos, 32 + bodySize);
    }
}

TEST_F(PacketsTest, OlderAndNewerFieldCounts) {
    TV3Packet v3;
    v3.F0 = 1, v3.F1 = 2, v3.F2 = 3;
    TV7Packet v7;
    v7.F0 = 1, v7.F1 = 2, v7.F2 = 3, v7.F3 = 4, v7.F4 = 5, v7.F5 = 6, v7.F6 = 7;

    // An older writer: fields 3 and 4 keep their values; the stream ends after the stored packet.
    VectorStream older(SavePacket(v3));
    older.Bytes.push_back(0xEE);
    TV5Packet target;
    target.F3 = 40, target.F4 = 50;
    target.LoadFromStream(older);
    EXPECT_EQ(std::vector<int32_t>({target.F0, target.F1, target.F2, target.F3, target.F4}),
              std::vector<int32_t>({1, 2, 3, 40, 50}));
    EXPECT_EQ(older.Pos, 32 + 12);

    // A newer writer in the full form: its trailing fields are skipped through TotalSize.
    VectorStream newer(SavePacket(v7));
    newer.Bytes.push_back(0xEE);
    TV5Packet fromNewer;
    fromNewer.LoadFromStream(newer);
    EXPECT_EQ(fromNewer.F4, 5);
    EXPECT_EQ(newer.Pos, 32 + 28);

    // The compact form has no size to skip by: a newer class record is refused.
    Bytes compact = {0x00, 0x00, 0x07, 0x00};
    const TGuid& guid = TV5Packet::Class.Guid;
    compact.insert(compact.end(), reinterpret_cast<const uint8_t*>(&guid), reinterpret_cast<const uint8_t*>(&guid) + 16);
    compact.resize(compact.size() + 28);
    VectorStream compactStream(compact);
    TPacketReadContext context;
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(compactStream, &context); }),
              "Unsupported version of packet class: TV5Packet (version 7)");
    // An older class record in the compact form is fine.
    compact[2] = 0x03;
    compact.resize(compact.size() - 16);
    VectorStream olderCompact(compact);
    TPacketReadContext context2;
    TV5Packet viaCompact;
    viaCompact.F4 = 99;
    viaCompact.LoadFromStream(olderCompact, &context2);
    EXPECT_EQ(viaCompact.F4, 99);
    EXPECT_EQ(olderCompact.Pos, static_cast<int32_t>(compact.size()));
}

TEST_F(PacketsTest, FixedFieldsStoredWiderOrNarrower) {
    struct Case {
        Bytes stored;
        uint32_t expected;
        size_t consumed;
    };
    // A 4-byte member: a wider stored value is cut and its rest skipped; a narrower one zero-filled.
    for (const Case& c : {Case{{4, 0x11, 0x22, 0x33, 0x44}, 0x44332211u, 5}, Case{{6, 1, 2, 3, 4, 5, 6}, 0x04030201u, 7},
                          Case{{1, 0x7F}, 0x7Fu, 2}, Case{{0}, 0u, 1}}) {
        VectorStream stream(c.stored);
        stream.Bytes.push_back(0xEE);
        uint32_t value = 0xFFFFFFFF;
        ReadFixed(stream, &value, 4);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(stream.Pos, static_cast<int32_t>(c.consumed));
    }
}

// ---- Registry, lists, copies ---------------------------------------------------------------------

TEST_F(PacketsTest, ClassNumbersFollowRegistrationOrder) {
    EXPECT_EQ(TPacket::Class.ClassNumber, 1);
    EXPECT_EQ(TSetupEventPacket::Class.ClassNumber, 2);
    EXPECT_EQ(TSetupFilePacket::Class.ClassNumber, 3);
    EXPECT_EQ(TSetupPacket::Class.ClassNumber, 4);
    EXPECT_EQ(TProductInformationPacket::Class.ClassNumber, 5);
    const size_t before = RegisteredPacketClasses().size();
    RegisterPacketClass(TSetupPacket::Class);  // again: nothing changes
    EXPECT_EQ(TSetupPacket::Class.ClassNumber, 4);
    EXPECT_EQ(RegisteredPacketClasses().size(), before);
    EXPECT_EQ(FindPacketClass(TSetupPacket::Class.Guid), &TSetupPacket::Class);

    // Another class under a taken identifier.
    EXPECT_EQ(MessageOf([] { RegisterPacketClass(TV3Packet::Class); }),
              "Failed to register packet class: TV3Packet\r\nTGuidListEx_HashTable: Hashtable does not allow duplicates.");
    EXPECT_EQ(FindPacketClass(TV3Packet::Class.Guid), &TV5Packet::Class);
}

TEST_F(PacketsTest, UnregisteredClassesAreRefused) {
    TSetupPacket setup;
    Bytes bytes = SavePacket(setup);
    bytes[16] = 0x02;  // the identifier's first byte
    VectorStream stream(bytes);
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(stream); }),
              "Unregistered packet class: {36710102-5156-450A-92A6-E9E2B6619E74}");
    // Loading into an instance names the stored and the expected identifiers instead.
    stream.Pos = 0;
    EXPECT_EQ(MessageOf([&] { setup.LoadFromStream(stream); }),
              "Incompatible packet class: {36710102-5156-450A-92A6-E9E2B6619E74} "
              "({367101FD-5156-450A-92A6-E9E2B6619E74}, TSetupPacket expected)");
}

TEST_F(PacketsTest, ListsCopyIndependentlyAndCompare) {
    TTinyPacketList three, two;
    for (int i = 0; i < 3; ++i) {
        auto t = std::make_unique<TTinyPacket>();
        t->A = i;
        three.Add(std::move(t));
    }
    for (int i = 0; i < 2; ++i)
        two.Add(std::make_unique<TTinyPacket>());
    const int32_t instances = TTinyPacket::Class.InstanceCount();
    two.AddCopies(three);
    ASSERT_EQ(two.Count(), 5);
    EXPECT_EQ(TTinyPacket::Class.InstanceCount(), instances + 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(two.Items(2 + i), three.Items(i));
        EXPECT_TRUE(two.Items(2 + i)->Equals(*three.Items(i)));
    }
    three.Items(0)->A = 100;
    EXPECT_EQ(two.Items(2)->A, 0);
    EXPECT_FALSE(two.Equals(three));
    EXPECT_TRUE(three.Equals(three));
    TTinyPacketList copy;
    copy.Assign(three);
    EXPECT_TRUE(copy.Equals(three));
    EXPECT_EQ(MessageOf([&] { three.Items(3); }), "List index out of bounds (3)");

    // A typed list refuses entries of another class when they are used.
    TTinyPacketList mixed;
    mixed.Add(std::make_unique<TSetupEventPacket>());
    EXPECT_EQ(MessageOf([&] { mixed.Items(0); }), "Invalid class typecast");
    EXPECT_EQ(MessageOf<EAssertionFailed>([&] { mixed.AddChecked(std::make_unique<TSetupEventPacket>()); })
                  .find("Assertion failure"),
              0u);
}

TEST_F(PacketsTest, CloneAssignClearAndInstanceCounts) {
    const int32_t before = TAllFieldsPacket::Class.InstanceCount();
    auto source = FilledPacket();
    auto copy = source->Clone();
    EXPECT_EQ(TAllFieldsPacket::Class.InstanceCount(), before + 2);
    EXPECT_TRUE(copy->Equals(*source));
    // Deep copies: changing the source's nested objects leaves the copy alone.
    static_cast<TTinyPacket&>(*source->Nested).A = 12;
    source->Tinies.Items(0)->S = "changed";
    source->Data.WriteBuffer("x", 1);
    EXPECT_FALSE(copy->Equals(*source));

    TAllFieldsPacket fresh;
    copy->Clear();
    // Clear empties an optional packet without freeing it: the packet still writes presence 1.
    auto& maybe = static_cast<TAllFieldsPacket&>(*copy).Maybe;
    ASSERT_NE(maybe, nullptr);
    EXPECT_TRUE(maybe->Equals(TTinyPacket()));
    maybe.reset();
    EXPECT_TRUE(copy->Equals(fresh));
    EXPECT_EQ(fresh.I32, -3);
    EXPECT_TRUE(fresh.Flag);
    EXPECT_EQ(static_cast<TTinyPacket&>(*fresh.Nested).S, "tiny");
    EXPECT_EQ(fresh.Maybe, nullptr);
    copy.reset();
    EXPECT_EQ(TAllFieldsPacket::Class.InstanceCount(), before + 2);  // source and fresh
    EXPECT_EQ(TPacket::Class.InstanceCount(), 0);

    TSetupPacket other;
    EXPECT_EQ(MessageOf([&] { fresh.Assign(other); }), "Invalid class typecast");
}

TEST_F(PacketsTest, CompareFieldsReportsEveryDifferingField) {
    auto a = FilledPacket();
    // One mutation per field index.
    std::vector<std::function<void(TAllFieldsPacket&)>> mutate = {
        [](auto& p) { p.I8 = 1; }, [](auto& p) { p.U8 = 1; }, [](auto& p) { p.I16 = 1; }, [](auto& p) { p.U16 = 1; },
        [](auto& p) { p.I32 = 1; }, [](auto& p) { p.U32 = 1; }, [](auto& p) { p.I64 = 1; },
        [](auto& p) { p.Compact = 1; }, [](auto& p) { p.Flag = true; }, [](auto& p) { p.Real = 1; },
        [](auto& p) { p.When = 1; }, [](auto& p) { p.Colour = TTestColour::Red; }, [](auto& p) { p.Id.D4[7] = 0; },
        [](auto& p) { p.Six.Y = 0; }, [](auto& p) { p.Text = "A"; }, [](auto& p) { p.Wide = u"A"; },
        [](auto& p) { p.Lines.Put(2, "THREE"); }, [](auto& p) { p.LinesText.Add("z"); },
        [](auto& p) { p.Data.SetSize(1); }, [](auto& p) { static_cast<TTinyPacket&>(*p.Nested).S = "n"; },
        [](auto& p) { p.Maybe.reset(); }, [](auto& p) { p.Tinies.Items(2)->A = 9; },
        [](auto& p) { p.Numbers.Add(5); }, [](auto& p) { p.Handle = 3; },
    };
    ASSERT_EQ(static_cast<int32_t>(mutate.size()), TAllFieldsPacket::Class.FieldCount());
    for (size_t i = 0; i < mutate.size(); ++i) {
        auto b = FilledPacket();
        mutate[i](*b);
        std::vector<int32_t> reported;
        EXPECT_FALSE(a->CompareFields(*b, [&](int32_t index) { reported.push_back(index); }));
        EXPECT_EQ(reported, std::vector<int32_t>{static_cast<int32_t>(i)});
        EXPECT_FALSE(a->Equals(*b)) << i;
    }
    // Equal but distinct: no call. Different classes: -1, then the typecast error.
    auto b = FilledPacket();
    int calls = 0;
    EXPECT_TRUE(a->CompareFields(*b, [&](int32_t) { ++calls; }));
    EXPECT_EQ(calls, 0);
    TSetupPacket setup;
    std::vector<int32_t> reported;
    EXPECT_EQ(MessageOf([&] { a->CompareFields(setup, [&](int32_t index) { reported.push_back(index); }); }),
              "Invalid class typecast");
    EXPECT_EQ(reported, std::vector<int32_t>{-1});
    EXPECT_FALSE(a->Equals(setup));
}

// ---- Bad input -----------------------------------------------------------------------------------

// A stored TTinyPacket whose bytes a case then corrupts.
Bytes TinyBytes(const std::string& text = "hello") {
    TTinyPacket packet;
    packet.S = text;
    return SavePacket(packet);
}

Bytes HolderBytes(int tinies) {
    THolderPacket holder;
    for (int i = 0; i < tinies; ++i)
        holder.Items.Add(std::make_unique<TTinyPacket>());
    return SavePacket(holder);
}

TEST_F(PacketsTest, LyingDataIsRefusedWithAClearMessage) {
    struct Case {
        const char* name;
        std::function<Bytes()> bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"unknown format version", [] { Bytes b = TinyBytes(); PutInt32(b, 0, 3); return b; },
         "Cannot load packet. Unknown format version: 3"},
        {"total size below the header", [] { Bytes b = TinyBytes(); PutInt32(b, 4, 31); return b; },
         "Cannot load packet. Invalid total size: 31"},
        {"total size past the end", [] { Bytes b = TinyBytes(); PutInt32(b, 4, 1000); return b; },
         "Cannot load packet. Total size 1000 exceeds the 42 bytes left"},
        {"string past its data", [] { Bytes b = TinyBytes(); b[36] = 60 * 2; return b; },
         "Invalid packet data in TTinyPacket.S: length 60 exceeds the 5 bytes left"},
        {"string past the body, within the stream",
         [] { Bytes b = TinyBytes(); b[36] = 6 * 2; b.push_back('!'); return b; },
         "Invalid packet data in TTinyPacket.S: length 6 exceeds the 5 bytes left"},
        {"huge list count", [] { Bytes b = HolderBytes(1); PutInt32(b, 32, 100000000); return b; },
         "Invalid packet data in THolderPacket.Items: length 100000000 exceeds the 41 bytes left"},
        {"negative list count", [] { Bytes b = HolderBytes(1); PutInt32(b, 32, -1); return b; },
         "Invalid packet data in THolderPacket.Items: negative length -1"},
        {"nested packet past its parent",
         [] { Bytes b = HolderBytes(2); PutInt32(b, 36 + 4, 32 + 6 + 41 + 41); return b; },
         "Cannot load packet. Total size 120 exceeds the 82 bytes left"},
        {"more fields than the body holds", [] { Bytes b = TinyBytes(); PutInt32(b, 8, 3); PutInt32(b, 4, 37); return b; },
         "Invalid packet data in TTinyPacket.S: length 5 exceeds the 0 bytes left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = c.bytes();
        VectorStream stream(bytes);
        EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(stream); }), c.message);
        TPointerStream memory(static_cast<const void*>(bytes.data()), static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(memory); }), c.message);
    }
}

TEST_F(PacketsTest, BlobLengthAndContextIdAreChecked) {
    TAllFieldsPacket packet;
    TPacketWriteContext context;
    Bytes bytes = SavePacket(packet, &context);
    // The blob's compact length sits after the 20-byte class reference and the fields before it.
    TVirtualStream probe;
    TPacketWriteContext probeContext;
    packet.Data.WriteBuffer("abc", 3);
    const Bytes withBlob = SavePacket(packet, &probeContext);
    ASSERT_EQ(withBlob.size(), bytes.size() + 3);
    size_t blobAt = 0;
    while (blobAt < bytes.size() && !(withBlob[blobAt] == 6 && withBlob[blobAt + 1] == 'a'))
        ++blobAt;
    ASSERT_LT(blobAt, bytes.size());
    bytes[blobAt] = 0x7F * 2;
    VectorStream stream(bytes);
    TPacketReadContext readContext;
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(stream, &readContext); }).substr(0, 52),
              "Invalid packet data in TAllFieldsPacket.Data: length");

    VectorStream badId(Bytes{0x04, 0x00});
    TPacketReadContext empty;
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(badId, &empty); }), "Invalid streaming context ID: 2");
}

TEST_F(PacketsTest, DeepNestingIsRefused) {
    auto root = std::make_unique<THolderPacket>();
    THolderPacket* level = root.get();
    for (int i = 0; i < PacketMaxNesting + 5; ++i) {
        auto next = std::make_unique<THolderPacket>();
        THolderPacket* raw = next.get();
        level->Items.Add(std::move(next));
        level = raw;
    }
    const Bytes bytes = SavePacket(*root);
    VectorStream stream(bytes);
    EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(stream); }), "Cannot load packet. Nesting deeper than 64 levels");
}

// What one read builds is bounded by its input: a compact list of bare packets, one byte each
// after the first, would otherwise build hundreds of bytes of objects per byte read.
TEST_F(PacketsTest, ObjectsBuiltAreBoundedByTheInput) {
    constexpr int32_t items = 200000;
    VectorStream stream;
    {
        THolderPacket holder;
        holder.Items.Reserve(items);
        for (int32_t i = 0; i < items; ++i) holder.Items.Add(std::make_unique<TPacket>());
        TPacketWriteContext context;
        holder.SaveToStream(stream, &context);
    }
    ASSERT_LT(stream.Bytes.size(), static_cast<size_t>(items) * 2);
    const int64_t input = static_cast<int64_t>(stream.Bytes.size());
    const int64_t limit = input * PacketBuildBytesPerInputByte + PacketBuildAllowance;
    TVirtualStream memory;
    memory.WriteBuffer(stream.Bytes.data(), static_cast<int32_t>(stream.Bytes.size()));
    for (TStream* source : {static_cast<TStream*>(&stream), static_cast<TStream*>(&memory)}) {
        source->Seek(0, soBeginning);
        TPacketReadContext context;
        const int32_t before = TPacket::Class.InstanceCount();
        EXPECT_EQ(MessageOf([&] { TPacket::CreateFromStream(*source, &context); }),
                  "Cannot load packet. " + std::to_string(input) + " bytes of data would build more than " +
                      std::to_string(limit) + " bytes of packets");
        EXPECT_EQ(TPacket::Class.InstanceCount(), before);
    }
    // The same number of packets with enough data behind them reads.
    THolderPacket honest;
    for (int32_t i = 0; i < 2000; ++i) {
        auto tiny = std::make_unique<TTinyPacket>();
        tiny->S = std::string(40, 'h');
        honest.Items.Add(std::move(tiny));
    }
    TVirtualStream written;
    TPacketWriteContext writeContext;
    honest.SaveToStream(written, &writeContext);
    written.SetPosition(0);
    TPacketReadContext readContext;
    EXPECT_TRUE(TPacket::CreateFromStream(written, &readContext)->Equals(honest));
}

TEST_F(PacketsTest, EveryTruncationIsRefused) {
    auto source = FilledPacket();
    for (bool compact : {false, true}) {
        TPacketWriteContext writeContext;
        const Bytes bytes = SavePacket(*source, compact ? &writeContext : nullptr);
        for (size_t length = 0; length < bytes.size(); ++length) {
            const Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
            TPacketReadContext c1, c2;
            VectorStream stream(cut);
            EXPECT_NE(MessageOf([&] { TPacket::CreateFromStream(stream, compact ? &c1 : nullptr); }), "(no exception)")
                << length;
            TPointerStream memory(static_cast<const void*>(cut.data()), static_cast<int32_t>(cut.size()));
            EXPECT_NE(MessageOf([&] { TPacket::CreateFromStream(memory, compact ? &c2 : nullptr); }), "(no exception)")
                << length;
        }
    }
}

}  // namespace
}  // namespace cm::test
