// The protocol packet catalogue: its table against the golden file, the layouts of the classes
// whose bytes are fixed by the product, and every class through the engine's contract.
// CORVANE_WRITE_GOLDEN=1 writes the golden file instead of comparing (done once, by the host build).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/ProductInformation.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/StreamUtils.h"
#include "support/MessageOf.h"
#include "support/PacketBytes.h"
#include "support/ProductPackets.h"
#include "support/VectorStream.h"

namespace cm::test {
namespace {

using Bytes = std::vector<uint8_t>;

class CatalogueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterProductPackets(); }
};

Bytes GuidBytes(const TGuid& guid) {
    Bytes bytes(16);
    std::memcpy(bytes.data(), &guid, 16);
    return bytes;
}

// The full form's header for a body of bodySize bytes.
Bytes Header(const TPacketClass& cls, int32_t bodySize) {
    Bytes bytes(16);
    const int32_t words[4] = {2, 32 + bodySize, cls.FieldCount(), 0};
    std::memcpy(bytes.data(), words, 16);
    const Bytes guid = GuidBytes(cls.Guid);
    bytes.insert(bytes.end(), guid.begin(), guid.end());
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- The table ----------------------------------------------------------------------------------

const char* CodingName(TFieldCoding coding) {
    static const char* const names[] = {
        "Int8", "UInt8", "Int16", "UInt16", "Int32", "UInt32", "Int64", "CompactInt", "Handle", "Boolean",
        "Double", "DateTime", "Fixed", "Guid", "Record", "String", "WideString", "StringList", "StringListText",
        "Blob", "Packet", "OptionalPacket", "PacketList", "RecordList"};
    static_assert(std::size(names) == static_cast<size_t>(TFieldCoding::RecordList) + 1);
    return names[static_cast<size_t>(coding)];
}

// Every unit, class (base, identifier, field count), field (index, name, coding, width or item
// class) and list of the catalogue, one line each.
std::string CatalogueTable() {
    std::ostringstream out;
    for (const TCatalogueUnit* unit : CatalogueUnits()) {
        out << "unit " << unit->Name << "\n";
        for (const TPacketClass* cls : unit->Classes) {
            std::unique_ptr<TPacket> instance(cls->Construct());
            const char* base = dynamic_cast<TCommPacket*>(instance.get()) ? "TCommPacket" : "TPacket";
            out << "class " << cls->Name << " : " << base << " " << GuidToString(cls->Guid) << " fields "
                << cls->FieldCount() << "\n";
            for (int32_t i = 0; i < cls->FieldCount(); ++i) {
                const TFieldDef& def = *cls->FieldDef(i);
                out << "  " << i << " " << def.Name << " " << CodingName(def.Coding);
                if (def.Coding == TFieldCoding::Fixed || def.Coding == TFieldCoding::Record)
                    out << " " << static_cast<int>(def.Size);
                if (def.ItemClass)
                    out << " " << def.ItemClass->Name;
                out << "\n";
            }
        }
        for (const TCatalogueList& list : unit->Lists)
            out << "list " << list.Name << " of " << list.ItemClass->Name << "\n";
    }
    return out.str();
}

TEST_F(CatalogueTest, TableIsTheGoldenFile) {
    const std::string table = CatalogueTable();
    const std::string path = std::string(CORVANE_GOLDEN_DIR) + "/catalogue.txt";
    const char* write = std::getenv("CORVANE_WRITE_GOLDEN");
    if (write && std::string(write) == "1") {
        std::ofstream(path, std::ios::binary) << table;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing golden file " << path;
    const std::string golden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Line by line, so that a failure names the first line that changed.
    std::istringstream a(table), b(golden);
    std::string lineA, lineB;
    int line = 1;
    while (std::getline(b, lineB)) {
        ASSERT_TRUE(std::getline(a, lineA)) << "the table ends before line " << line << ": " << lineB;
        ASSERT_EQ(lineA, lineB) << "line " << line;
        ++line;
    }
    EXPECT_FALSE(std::getline(a, lineA)) << "the table goes on at line " << line << ": " << lineA;
}

// Every class registered once, unit by unit in declaration order, right after the product
// information; every list holds its class.
TEST_F(CatalogueTest, UnitsRegisterTheirClassesInDeclarationOrder) {
    std::vector<const TPacketClass*> expected;
    size_t lists = 0;
    for (const TCatalogueUnit* unit : CatalogueUnits()) {
        expected.insert(expected.end(), unit->Classes.begin(), unit->Classes.end());
        for (const TCatalogueList& list : unit->Lists) {
            EXPECT_EQ(&list.Create()->ItemClass(), list.ItemClass) << list.Name;
            ++lists;
        }
    }
    EXPECT_EQ(expected.size(), 162u);
    EXPECT_EQ(lists, 22u);
    const auto registered = RegisteredPacketClasses();
    const int32_t first = TProductInformationPacket::Class.ClassNumber;  // numbers are 1-based
    ASSERT_GE(registered.size(), first + expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(registered[first + i], expected[i]) << expected[i]->Name;
}

// ---- Layouts fixed by the product -----------------------------------------------------------------

TEST_F(CatalogueTest, TestNetworkPacketLayoutWithAndWithoutConnectionInfo) {
    TTestNetworkPacket packet;
    packet.Kind = 3;
    packet.BufferSize = 0x1000;
    packet.TimeStamp = 0x0102030405060708;
    packet.ResultTime = -1;
    const Bytes scalars{0x01, 0x03, 0x00, 0x10, 0x00, 0x00, 8, 7, 6, 5, 4, 3, 2, 1,
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes guid{0xCA, 0x88, 0xC2, 0x3F, 0xAD, 0x88, 0x31, 0x4A, 0xAC, 0xBA, 0x81, 0x25, 0x31, 0x52, 0x6B, 0x15};
    EXPECT_EQ(GuidBytes(TTestNetworkPacket::Class.Guid), guid);

    // Without the member: presence byte 0; it reads back absent and equals only packets without.
    const Bytes without = SavePacket(packet);
    EXPECT_EQ(without, Join({Header(TTestNetworkPacket::Class, 23), scalars, {0x00}}));
    auto back = LoadPacket(without);
    auto& read = static_cast<TTestNetworkPacket&>(*back);
    EXPECT_FALSE(read.ConnectionInfo.Assigned());
    EXPECT_TRUE(read.Equals(packet));
    EXPECT_EQ(MessageOf([&] { read.ConnectionInfo.Value(); }),
              "Attempt to access uninitialized member object: TTestNetworkPacket.ConnectionInfo");

    // With it: presence byte 1, then the nested packet in full.
    TNetworkConnectionInfoPacket& info = packet.ConnectionInfo.Need();
    info.SpeedBitsPerSec = 100000000;
    info.IP = 0x0100007F;
    info.Name = "eth0";
    info.PhysicalAddress = "00-11";
    const Bytes infoBody{0x00, 0xE1, 0xF5, 0x05, 0, 0, 0, 0, 0x7F, 0, 0, 1, 0x08, 'e', 't', 'h', '0',
                         0x00, 0x0A, '0', '0', '-', '1', '1'};
    const Bytes nested = Join({Header(TNetworkConnectionInfoPacket::Class, 24), infoBody});
    EXPECT_EQ(SavePacket(packet), Join({Header(TTestNetworkPacket::Class, 23 + 56), scalars, {0x01}, nested}));
    EXPECT_FALSE(read.Equals(packet));
    EXPECT_FALSE(packet.Equals(read));
    std::vector<int32_t> differing;
    EXPECT_FALSE(packet.CompareFields(read, [&](int32_t i) { differing.push_back(i); }));
    EXPECT_EQ(differing, std::vector<int32_t>{4});

    // A presence byte 0 read into a packet that has the member frees it.
    TTestNetworkPacket into;
    into.ConnectionInfo.Need();
    TPointerStream stream(static_cast<const void*>(without.data()), static_cast<int32_t>(without.size()));
    into.LoadFromStream(stream);
    EXPECT_FALSE(into.ConnectionInfo.Assigned());

    // Assigning copies, assigning none frees; Clear clears the member and keeps it.
    into.ConnectionInfo.Assign(&info);
    ASSERT_TRUE(into.ConnectionInfo.Assigned());
    EXPECT_NE(into.ConnectionInfo.Get(), &info);
    EXPECT_TRUE(into.ConnectionInfo.Value().Equals(info));
    into.ConnectionInfo.Assign(nullptr);
    EXPECT_FALSE(into.ConnectionInfo.Assigned());
    packet.Clear();
    ASSERT_TRUE(packet.ConnectionInfo.Assigned());
    EXPECT_TRUE(packet.ConnectionInfo.Value().Equals(TNetworkConnectionInfoPacket()));
    EXPECT_EQ(SavePacket(packet).at(32 + 22), 0x01);
}

TEST_F(CatalogueTest, GraphDefPacketLayoutAndANewerWritersFields) {
    TGraphDefPacket graph;
    graph.DisplayName = "CPU";
    graph.Units = "%";
    graph.DivideBy = 10;
    graph.DefaultScale = 100;
    graph.Color = 5;
    graph.Flags = 2;
    const Bytes body{0x06, 'C', 'P', 'U', 0x00, 0x02, '%', 10, 0, 0, 0, 100, 0, 0, 0, 0x01, 0x05, 0x01, 0x02};
    const Bytes guid{0x3F, 0xCC, 0x18, 0x78, 0xD2, 0x04, 0xA8, 0x4D, 0xA0, 0x0D, 0x4B, 0xD7, 0x91, 0x6A, 0xD4, 0x14};
    EXPECT_EQ(GuidBytes(TGraphDefPacket::Class.Guid), guid);
    EXPECT_EQ(SavePacket(graph), Join({Header(TGraphDefPacket::Class, 19), body}));

    // A newer writer's two further fields are skipped through the total size; the packet after
    // it is read next.
    Bytes newer = Join({Header(TGraphDefPacket::Class, 19 + 6), body, {7, 0, 0, 0, 0x02, 'x'}});
    newer[8] = 9;  // its field count
    const Bytes following = SavePacket(graph);
    const Bytes stream = Join({newer, following});
    TPointerStream memory(static_cast<const void*>(stream.data()), static_cast<int32_t>(stream.size()));
    EXPECT_TRUE(TPacket::CreateFromStream(memory)->Equals(graph));
    EXPECT_EQ(memory.Position(), static_cast<int32_t>(newer.size()));
    EXPECT_TRUE(TPacket::CreateFromStream(memory)->Equals(graph));
}

TEST_F(CatalogueTest, ExceptionLogsReplyLayout) {
    TReadExceptionLogsReplyPacket reply;
    const Bytes empty = SavePacket(reply);
    EXPECT_EQ(empty, Join({Header(TReadExceptionLogsReplyPacket::Class, 4), {0, 0, 0, 0}}));
    EXPECT_EQ(GuidBytes(TReadExceptionLogsReplyPacket::Class.Guid),
              (Bytes{0xE2, 0x4A, 0x05, 0x34, 0xE8, 0x2E, 0x91, 0x4D, 0xBD, 0xB9, 0xBB, 0x8B, 0x53, 0xC4, 0x6F, 0x1D}));
    EXPECT_TRUE(static_cast<TReadExceptionLogsReplyPacket&>(*LoadPacket(empty)).Files.IsEmpty());

    auto log = std::make_unique<TExceptionLogPacket>();
    log->Filename = "a.log";
    log->Data.WriteBuffer("xyz", 3);
    reply.Files.Add(std::move(log));
    const Bytes logBody{0x0A, 'a', '.', 'l', 'o', 'g', 3, 0, 0, 0, 'x', 'y', 'z'};
    EXPECT_EQ(GuidBytes(TExceptionLogPacket::Class.Guid),
              (Bytes{0x84, 0xAA, 0x5D, 0xED, 0x72, 0xE0, 0xAD, 0x46, 0xAC, 0xAE, 0x6D, 0xAA, 0xE4, 0x50, 0x27, 0x55}));
    EXPECT_EQ(SavePacket(reply), Join({Header(TReadExceptionLogsReplyPacket::Class, 4 + 45), {1, 0, 0, 0},
                                 Header(TExceptionLogPacket::Class, 13), logBody}));
    auto back = LoadPacket(SavePacket(reply));
    EXPECT_EQ(static_cast<TReadExceptionLogsReplyPacket&>(*back).Files.Items(0)->Filename, "a.log");
}

// The forwarded packet is of any registered class: a read replaces the member by the class the
// stream names; a missing member is written as the empty packet it stands for.
TEST_F(CatalogueTest, ForwardedPacketIsOfAnyClass) {
    TForwardToAgentPacket forward;
    forward.ID = "agent";
    EXPECT_EQ(&forward.Packet->ClassType(), &TPacket::Class);
    auto graph = std::make_unique<TGraphDefPacket>();
    graph->Color = 9;
    forward.Packet.Owned() = std::move(graph);
    for (bool compact : {false, true}) {
        TPacketWriteContext writeContext;
        TPacketReadContext readContext;
        auto back = LoadPacket(SavePacket(forward, compact ? &writeContext : nullptr), compact ? &readContext : nullptr);
        auto& read = static_cast<TForwardToAgentPacket&>(*back);
        ASSERT_EQ(&read.Packet->ClassType(), &TGraphDefPacket::Class);
        EXPECT_EQ(static_cast<TGraphDefPacket&>(*read.Packet).Color, 9);
        EXPECT_TRUE(read.Equals(forward));
    }
    TForwardToAgentPacket empty;
    empty.Packet.Owned().reset();
    auto back = LoadPacket(SavePacket(empty));
    EXPECT_EQ(&static_cast<TForwardToAgentPacket&>(*back).Packet->ClassType(), &TPacket::Class);
    EXPECT_TRUE(back->Equals(empty));
}

// The handle fields, down the packet lists: what DuplicateHandles replaces.
TEST_F(CatalogueTest, HandlesAreFoundInListsToo) {
    TVEProcessPacket process;
    process.ProcessArrayHandle = 0x10;
    process.TerminateEventHandle = 0x14;
    for (TPacketHandle h : {0x18, 0x1C}) {
        auto entry = std::make_unique<TVEHandlePacket>();
        entry->Handle = h;
        process.FileHandles.Add(std::move(entry));
    }
    std::vector<TPacketHandle> seen;
    process.ForEachHandle([&](TPacketHandle& h) { seen.push_back(h); h += 1; });
    EXPECT_EQ(seen, (std::vector<TPacketHandle>{0x10, 0x14, 0x18, 0x1C}));
    EXPECT_EQ(process.FileHandles.Items(1)->Handle, 0x1D);
}

// ---- Every class through the contract -----------------------------------------------------------

constexpr int MaxFillDepth = 2;

void Fill(TPacket& packet, int depth, int seed);

// A fresh packet of the class with every field set, packet lists down to MaxFillDepth.
std::unique_ptr<TPacket> Filled(const TPacketClass& cls, int depth, int seed) {
    std::unique_ptr<TPacket> packet(cls.Construct());
    Fill(*packet, depth, seed);
    return packet;
}

// Sets field index of packet to a value other than its default, chosen by its coding and seed.
void FillField(TPacket& packet, int32_t index, int depth, int seed) {
    const TFieldDef& def = *packet.ClassType().FieldDef(index);
    void* member = def.Locate(packet);
    const int value = seed + index + 1;
    switch (packet.ClassType().FieldKind(index)) {
        case fkInteger: packet.SetFieldAsInteger(index, value); return;
        case fkBoolean: packet.SetFieldAsInteger(index, 1); return;
        case fkFloat: packet.SetFieldAsDouble(index, value + 0.5); return;
        case fkString: packet.SetFieldAsString(index, "s" + std::to_string(value)); return;
        case fkOther: std::memset(member, value, def.Size); return;
        case fkObject: break;
    }
    auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member);
    switch (def.Coding) {
        case TFieldCoding::StringList:
        case TFieldCoding::StringListText:
            packet.GetFieldAsObject(index).AsStrings()->Add("line " + std::to_string(value));
            packet.GetFieldAsObject(index).AsStrings()->Add("second");
            return;
        case TFieldCoding::Blob: packet.GetFieldAsObject(index).AsStream()->WriteBuffer(&value, 4); return;
        case TFieldCoding::RecordList: {
            TCustomList& list = *packet.GetFieldAsObject(index).AsList();
            VectorStream records;
            WriteCompactInt(records, 2);
            records.Bytes.resize(records.Bytes.size() + 2 * list.ItemSize(), static_cast<uint8_t>(value));
            records.Pos = 0;
            list.LoadFromStream(records);
            return;
        }
        case TFieldCoding::PacketList:
            if (depth < MaxFillDepth)
                packet.GetFieldAsObject(index).AsPacketList()->Add(Filled(*def.ItemClass, depth + 1, value));
            return;
        case TFieldCoding::Packet:
        case TFieldCoding::OptionalPacket:
            // A forwarded packet of any class gets one of the catalogue's. Chains of nested packets
            // end (no class nests itself), so they are filled all the way down.
            nested = Filled(def.ItemClass == &TPacket::Class ? TGraphDefPacket::Class : *def.ItemClass, depth + 1,
                            value);
            return;
        default: FAIL() << "no value for " << def.Name;
    }
}

void Fill(TPacket& packet, int depth, int seed) {
    for (int32_t i = 0; i < packet.ClassType().FieldCount(); ++i)
        FillField(packet, i, depth, seed);
}

// Changes field index of a filled packet.
void Mutate(TPacket& packet, int32_t index) {
    const TFieldDef& def = *packet.ClassType().FieldDef(index);
    void* member = def.Locate(packet);
    switch (packet.ClassType().FieldKind(index)) {
        case fkInteger: packet.SetFieldAsInteger(index, packet.GetFieldAsInteger(index) + 1); return;
        case fkBoolean: packet.SetFieldAsInteger(index, 0); return;
        case fkFloat: packet.SetFieldAsDouble(index, packet.GetFieldAsDouble(index) + 1); return;
        case fkString: packet.SetFieldAsString(index, packet.GetFieldAsString(index) + "x"); return;
        case fkOther: static_cast<uint8_t*>(member)[0] ^= 0x80; return;
        case fkObject: break;
    }
    auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member);
    switch (def.Coding) {
        case TFieldCoding::StringList:
        case TFieldCoding::StringListText: packet.GetFieldAsObject(index).AsStrings()->Add("more"); return;
        case TFieldCoding::Blob: packet.GetFieldAsObject(index).AsStream()->WriteBuffer("+", 1); return;
        case TFieldCoding::RecordList: packet.GetFieldAsObject(index).AsList()->Clear(); return;
        case TFieldCoding::PacketList: packet.GetFieldAsObject(index).AsPacketList()->Clear(); return;
        case TFieldCoding::Packet:
            if (def.ItemClass == &TPacket::Class)
                nested.reset(new TPacket());
            else
                nested->Clear();
            return;
        case TFieldCoding::OptionalPacket: nested.reset(); return;
        default: FAIL() << "no change for " << def.Name;
    }
}

std::vector<const TPacketClass*> AllClasses() {
    std::vector<const TPacketClass*> classes;
    for (const TCatalogueUnit* unit : CatalogueUnits())
        classes.insert(classes.end(), unit->Classes.begin(), unit->Classes.end());
    return classes;
}

TEST_F(CatalogueTest, EveryClassKeepsTheContract) {
    for (const TPacketClass* cls : AllClasses()) {
        SCOPED_TRACE(cls->Name);
        auto source = Filled(*cls, 0, 0);
        std::unique_ptr<TPacket> fresh(cls->Construct());
        ASSERT_FALSE(source->Equals(*fresh));

        // Every form reads back an equal packet with the same dump.
        struct Form {
            const char* name;
            bool context;
            uint32_t saveFlags, loadFlags;
        };
        for (const Form& form : {Form{"full", false, 0, 0}, Form{"compact", true, 0, 0},
                                 Form{"compressed", false, sfCompressed, lfCompressed},
                                 Form{"compact compressed", true, sfCompressed, lfCompressed}}) {
            SCOPED_TRACE(form.name);
            TPacketWriteContext writeContext;
            TPacketReadContext readContext;
            auto back = LoadPacket(SavePacket(*source, form.context ? &writeContext : nullptr, form.saveFlags),
                             form.context ? &readContext : nullptr, form.loadFlags);
            ASSERT_EQ(&back->ClassType(), cls);
            EXPECT_TRUE(back->Equals(*source));
            EXPECT_EQ(back->DumpLines(), source->DumpLines());
        }
        EXPECT_TRUE(source->Clone()->Equals(*source));

        // Each field changed alone is the one difference found.
        for (int32_t i = 0; i < cls->FieldCount(); ++i) {
            auto changed = source->Clone();
            Mutate(*changed, i);
            std::vector<int32_t> differing;
            EXPECT_FALSE(changed->CompareFields(*source, [&](int32_t d) { differing.push_back(d); }));
            EXPECT_EQ(differing, std::vector<int32_t>{i}) << cls->FieldName(i);
            EXPECT_FALSE(source->Equals(*changed)) << cls->FieldName(i);
        }

        // Clear brings back the defaults (an optional member stays, cleared).
        source->Clear();
        EXPECT_TRUE(LoadPacket(SavePacket(*source))->Equals(*source));
    }
}

// Data cut at any byte is refused with a message, in both forms.
TEST_F(CatalogueTest, EveryTruncationIsRefused) {
    for (const TPacketClass* cls : AllClasses()) {
        SCOPED_TRACE(cls->Name);
        auto source = Filled(*cls, 0, 0);
        for (bool compact : {false, true}) {
            TPacketWriteContext writeContext;
            const Bytes bytes = SavePacket(*source, compact ? &writeContext : nullptr);
            for (size_t size = 0; size < bytes.size(); ++size) {
                const Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
                TPacketReadContext readContext;
                bool refused = false;
                try {
                    LoadPacket(cut, compact ? &readContext : nullptr);
                } catch (const Exception&) {
                    refused = true;
                }
                ASSERT_TRUE(refused) << "cut at " << size << " of " << bytes.size() << (compact ? " (compact)" : "");
            }
        }
    }
}

}  // namespace
}  // namespace cm::test
