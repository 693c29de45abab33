// corvane-packet's logic on the host: every form of packet data and streams of it, the JSON of
// every field coding, the class listing, and bad data and bad command lines as one error line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include "PacketTool.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "cm/Packets/PacketTestClasses.h"
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct TRun {
    int Code;
    std::string Out, Err;
};

TRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = packettool::RunPacketTool(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The data of packets written one after another: through one write context when compact, each
// compressed on its own when compressed (so compressed streams follow each other).
std::string Bytes(const std::vector<TPacket*>& packets, TPacketWriteContext* context, uint32_t flags = 0) {
    TVirtualStream stream;
    for (TPacket* packet : packets) packet->SaveToStream(stream, context, flags);
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

std::unique_ptr<TSetupPacket> SetupPacket() {
    auto packet = std::make_unique<TSetupPacket>();
    packet->SetupDateTime = 41878.15664;
    packet->LicenseAgreement = "Licence";
    packet->ProductCaption = "Corvane Test";
    for (const char* name : {"info.dat", "docs\\readme.txt"}) {
        auto file = std::make_unique<TSetupFilePacket>();
        file->Filename = name;
        file->Components = 1;
        file->Content.WriteBuffer(name, static_cast<int32_t>(std::strlen(name)));
        packet->Files.Add(std::move(file));
    }
    return packet;
}

std::unique_ptr<TProductInformationPacket> ProductPacket() {
    auto packet = std::make_unique<TProductInformationPacket>();
    packet->ProductCaption = "Corvane";
    packet->DefaultPortAgentService = 8400;
    return packet;
}

std::unique_ptr<TSetupEventPacket> EventPacket() {
    auto packet = std::make_unique<TSetupEventPacket>();
    packet->Text = "Copying";
    packet->ProgressPercent = 40;
    return packet;
}

// One value of every coding, none at its default.
std::unique_ptr<TAllFieldsPacket> AllFields() {
    auto p = std::make_unique<TAllFieldsPacket>();
    p->I8 = -5;
    p->U8 = 250;
    p->I16 = -30000;
    p->U16 = 65000;
    p->I32 = -2000000000;
    p->U32 = 4000000000u;
    p->I64 = -9000000000000000000LL;
    p->Compact = 300;
    p->Flag = false;
    p->Real = 0.1;
    p->When = 45000.25;
    p->Colour = TTestColour::Blue;
    p->Id = TGuid{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    p->Six = {0x0102, 0x03040506};
    p->Text = std::string("a\0\xE9\"\r\n", 6);
    p->Wide = u"\u03A9x";
    p->Lines.Add("one");
    p->Lines.Add("two");
    p->LinesText.Add("three");
    for (int i = 0; i < 100; ++i) p->Data.WriteBuffer(&i, 1);
    static_cast<TTinyPacket&>(*p->Nested).A = 11;
    auto maybe = std::make_unique<TTinyPacket>();
    maybe->S = "maybe";
    p->Maybe = std::move(maybe);
    for (int a : {1, 2}) {
        auto tiny = std::make_unique<TTinyPacket>();
        tiny->A = a;
        p->Tinies.Add(std::move(tiny));
    }
    p->Numbers.Add(7);
    p->Numbers.Add(0x01020304);
    return p;
}

class PacketToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterTestPackets(); }

    void SetUp() override {
        static int counter = 0;
        FDir = fs::temp_directory_path() /
               ("corvane_packet_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = (FDir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    fs::path FDir;
};

// ---- Forms and streams --------------------------------------------------------------------------

TEST_F(PacketToolTest, DumpReadsEveryFormAndStreamOfPackets) {
    auto setup = SetupPacket();
    auto product = ProductPacket();
    auto event = EventPacket();
    auto all = AllFields();
    TV7Packet newer;
    newer.F0 = 1;
    newer.F6 = 6;
    TV3Packet older;
    older.F2 = 2;

    struct TCase {
        std::string Name;
        std::string Data;
        std::vector<TPacket*> Packets;  // what the dump must show, in order
        const char* Form;
        size_t Streams;                 // compressed streams; 0: not compressed
        std::vector<std::string> Options;
        std::vector<int> StoredVersions;
    };
    TPacketWriteContext compact, compressedCompact, continued;
    // Before the data begins, the context numbered TSetupPacket 1 and, for its files, TSetupFilePacket 2.
    Bytes({setup.get()}, &continued);
    const std::string package = Bytes({setup.get()}, nullptr) + "MZ" + std::string(300, '\0');
    const int allFields = all->ClassType().FieldCount();  // the every-coding class grows with the engine
    const std::vector<TCase> cases = {
        {"one full packet", Bytes({setup.get()}, nullptr), {setup.get()}, "full", 0, {}, {9}},
        {"a stream of full packets", Bytes({setup.get(), product.get(), event.get(), all.get()}, nullptr),
         {setup.get(), product.get(), event.get(), all.get()}, "full", 0, {}, {9, 14, 4, allFields}},
        {"a compact stream through one context", Bytes({setup.get(), all.get(), setup.get(), all.get()}, &compact),
         {setup.get(), all.get(), setup.get(), all.get()}, "compact", 0, {}, {9, allFields, 9, allFields}},
        {"a compressed full packet", Bytes({all.get()}, nullptr, sfCompressed), {all.get()}, "full", 1, {}, {allFields}},
        {"compressed compact packets back to back",
         Bytes({setup.get(), setup.get(), product.get()}, &compressedCompact, sfCompressed),
         {setup.get(), setup.get(), product.get()}, "compact", 3, {}, {9, 9, 14}},
        {"a compact stream continuing a context", Bytes({setup.get(), event.get(), setup.get()}, &continued),
         {setup.get(), event.get(), setup.get()}, "compact", 0,
         {"--class", "TSetupPacket", "--class", "TSetupFilePacket"}, {9, 4, 9}},
        {"a setup package's packet alone", package, {setup.get()}, "full", 0, {"--first"}, {9}},
        {"newer and older versions of a class", Bytes({&newer, &older}, nullptr), {&newer, &older}, "full", 0, {},
         {7, 3}},
    };
    // What this program reads: the newer writer's extra fields skipped, the older one's missing fields
    // left at their defaults.
    TV5Packet newerAsRead, olderAsRead;
    newerAsRead.F0 = 1;
    olderAsRead.F2 = 2;
    auto asRead = [&](TPacket* written) -> TPacket* {
        return written == &newer ? &newerAsRead : written == &older ? &olderAsRead : written;
    };

    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = File("data.bin", c.Data);
        std::vector<std::string> args = {"dump", path};
        args.insert(args.end(), c.Options.begin(), c.Options.end());

        const TRun text = RunTool(args);
        ASSERT_EQ(text.Code, 0) << text.Err;
        EXPECT_EQ(text.Err, "");
        // A summary line, a line per compressed stream, then per packet a header line, the
        // engine's dump of the packet written (a string may span lines) and an empty line.
        const std::string& out = text.Out;
        const size_t n = c.Packets.size();
        const std::string summary = std::to_string(n) + (n == 1 ? " packet, " : " packets, ") + c.Form + " form" +
                                    (c.Streams ? ", compressed" : "") + "\n";
        ASSERT_EQ(out.rfind(summary, 0), 0u) << out;
        size_t at = summary.size();
        for (size_t i = 0; i < c.Streams; ++i) {
            const std::string stream = "stream " + std::to_string(i + 1) + ": ";
            ASSERT_EQ(out.compare(at, stream.size(), stream), 0) << out.substr(at);
            at = out.find('\n', at) + 1;
        }
        for (size_t i = 0; i < n; ++i) {
            const std::string header = "[" + std::to_string(i + 1) + "/" + std::to_string(n) + "] ";
            ASSERT_EQ(out.compare(at, header.size(), header), 0) << out.substr(at);
            at = out.find('\n', at) + 1;
            std::string dump;
            for (const std::string& line : asRead(c.Packets[i])->DumpLines()) dump += line + "\n";
            dump += "\n";
            ASSERT_EQ(out.substr(at, dump.size()), dump);
            at += dump.size();
        }
        EXPECT_EQ(at, out.size());

        args.push_back("--json");
        const TRun js = RunTool(args);
        ASSERT_EQ(js.Code, 0) << js.Err;
        const json doc = json::parse(js.Out);
        EXPECT_EQ(doc["form"], c.Form);
        EXPECT_EQ(doc["compressed"], c.Streams > 0);
        ASSERT_EQ(doc["streams"].size(), c.Streams);
        ASSERT_EQ(doc["packets"].size(), n);
        // The packets tile the data they were read from (each compressed stream's, or the file's).
        int64_t end = 0, streamEnd = 0;
        int64_t stream = c.Streams ? 1 : 0;
        for (size_t i = 0; i < n; ++i) {
            const json& p = doc["packets"][i];
            EXPECT_EQ(p["class"], asRead(c.Packets[i])->ClassName());
            EXPECT_EQ(p["storedVersion"], c.StoredVersions[i]);
            if (c.Streams) {
                if (p["stream"] != stream) {
                    EXPECT_EQ(end, doc["streams"][stream - 1]["decompressedSize"]);
                    stream = p["stream"];
                    end = 0;
                }
            } else {
                EXPECT_TRUE(p["stream"].is_null());
            }
            EXPECT_EQ(p["offset"], end);
            end += p["size"].get<int64_t>();
        }
        for (const json& s : doc["streams"]) {
            EXPECT_EQ(s["offset"], streamEnd);
            EXPECT_EQ(s["formatId"], 3);
            streamEnd += s["size"].get<int64_t>();
        }
        if (c.Options.empty() || c.Options[0] != "--first") {
            EXPECT_EQ(c.Streams ? streamEnd : end, static_cast<int64_t>(c.Data.size()));
        }
    }
}

// The golden files of the stored formats read as the checked-in dumps, which the Windows builds'
// program must print too.
TEST_F(PacketToolTest, GoldenFilesDumpAsTheExpectedOutput) {
    for (const auto& [file, option, expected] :
         {std::tuple{"setup_packet_compressed.bin", "", "setup_packet_compressed.txt"},
          std::tuple{"setup_packet_compact.bin", "--json", "setup_packet_compact.json"}}) {
        SCOPED_TRACE(file);
        std::vector<std::string> args = {"dump", std::string(CORVANE_GOLDEN_DIR) + "/" + file};
        if (*option) args.push_back(option);
        const TRun run = RunTool(args);
        ASSERT_EQ(run.Code, 0) << run.Err;
        std::ifstream in(std::string(CORVANE_EXPECTED_DIR) + "/" + expected, std::ios::binary);
        ASSERT_TRUE(in) << expected;
        EXPECT_EQ(run.Out, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
}

// ---- JSON values --------------------------------------------------------------------------------

TEST_F(PacketToolTest, JsonGivesEveryCodingItsValue) {
    auto all = AllFields();
    const std::string path = File("all.bin", Bytes({all.get()}, nullptr));
    const TRun run = RunTool({"dump", path, "--json"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const json f = json::parse(run.Out)["packets"][0]["fields"];

    EXPECT_EQ(f["I8"], -5);
    EXPECT_EQ(f["U8"], 250);
    EXPECT_EQ(f["I16"], -30000);
    EXPECT_EQ(f["U16"], 65000);
    EXPECT_EQ(f["I32"], -2000000000);
    EXPECT_EQ(f["U32"], 4000000000u);
    EXPECT_EQ(f["I64"].get<int64_t>(), -9000000000000000000LL);
    EXPECT_EQ(f["Compact"], 300);
    EXPECT_EQ(f["Flag"], false);
    EXPECT_EQ(f["Real"].get<double>(), 0.1);  // the shortest text that reads back exactly
    EXPECT_EQ(f["When"], json::parse(R"({"days": 45000.25, "text": "2023-03-15 06:00:00"})"));
    EXPECT_EQ(f["Colour"], "04030201");  // member bytes in hex
    EXPECT_EQ(f["Id"], "{01020304-0506-0708-090A-0B0C0D0E0F10}");
    EXPECT_EQ(f["Six"], "020106050403");
    EXPECT_EQ(f["Text"], std::string("a\0\xC3\xA9\"\r\n", 7));  // each byte as its code point
    EXPECT_EQ(f["Wide"], "\xCE\xA9x");
    EXPECT_EQ(f["Lines"], json::parse(R"(["one", "two"])"));
    EXPECT_EQ(f["LinesText"], json::parse(R"(["three"])"));
    std::string hex;
    for (int i = 0; i < 64; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", i);
        hex += digits;
    }
    EXPECT_EQ(f["Data"]["size"], 100);
    EXPECT_EQ(f["Data"]["hex"], hex);  // the first 64 bytes by default
    EXPECT_EQ(f["Data"]["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(f["Nested"], json::parse(R"({"class": "TTinyPacket", "guid": ")" + GuidToString(TTinyPacket::Class.Guid) +
                                       R"(", "fields": {"A": 11, "S": "tiny"}})"));
    EXPECT_EQ(f["Maybe"]["fields"]["S"], "maybe");
    ASSERT_EQ(f["Tinies"].size(), 2u);
    EXPECT_EQ(f["Tinies"][1]["fields"]["A"], 2);
    EXPECT_EQ(f["Numbers"], json::parse(R"({"recordSize": 4, "records": ["07000000", "04030201"]})"));

    all->Maybe.reset();
    const std::string absent = File("absent.bin", Bytes({all.get()}, nullptr));
    EXPECT_TRUE(json::parse(RunTool({"dump", absent, "--json"}).Out)["packets"][0]["fields"]["Maybe"].is_null());
    for (const auto& [option, chars] : {std::pair{"all", 200u}, std::pair{"0", 0u}, std::pair{"3", 6u}}) {
        const TRun sized = RunTool({"dump", absent, "--json", "--blob-bytes", option});
        ASSERT_EQ(sized.Code, 0) << sized.Err;
        EXPECT_EQ(json::parse(sized.Out)["packets"][0]["fields"]["Data"]["hex"].get<std::string>().size(), chars);
    }
}

// ---- classes --------------------------------------------------------------------------------------

TEST_F(PacketToolTest, ClassesListsEveryRegisteredClassWithItsFields) {
    const std::vector<const TPacketClass*> registered = RegisteredPacketClasses();
    const std::vector<std::string> kinds = {"fkOther", "fkString", "fkInteger", "fkBoolean", "fkFloat", "fkObject"};

    const TRun js = RunTool({"classes", "--json"});
    ASSERT_EQ(js.Code, 0) << js.Err;
    const json classes = json::parse(js.Out)["classes"];
    ASSERT_EQ(classes.size(), registered.size());
    for (size_t i = 0; i < registered.size(); ++i) {
        const TPacketClass& cls = *registered[i];
        const json& c = classes[i];
        SCOPED_TRACE(cls.Name);
        EXPECT_EQ(c["name"], cls.Name);
        EXPECT_EQ(c["guid"], GuidToString(cls.Guid));
        EXPECT_EQ(c["base"], cls.Parent ? json(cls.Parent->Name) : json(nullptr));
        EXPECT_EQ(c["number"], static_cast<int>(i) + 1);
        EXPECT_EQ(c["version"], cls.FieldCount());
        ASSERT_EQ(c["fields"].size(), static_cast<size_t>(cls.FieldCount()));
        std::set<std::string> names;  // a dump's fields are an object keyed by name
        for (int32_t k = 0; k < cls.FieldCount(); ++k) {
            const json& field = c["fields"][k];
            EXPECT_EQ(field["index"], k);
            EXPECT_EQ(field["name"], cls.FieldName(k));
            EXPECT_TRUE(names.insert(cls.FieldName(k)).second) << "two fields named " << cls.FieldName(k);
            EXPECT_EQ(field["kind"], kinds[cls.FieldKind(k)]);
            EXPECT_TRUE(field["encoding"].is_string());
            EXPECT_TRUE(field["size"].is_null() || field["size"].get<int>() > 0);
        }
    }
    const auto setup = std::find_if(classes.begin(), classes.end(), [](const json& c) { return c["name"] == "TSetupPacket"; });
    ASSERT_NE(setup, classes.end());
    EXPECT_EQ((*setup)["fields"][4], json::parse(R"({"index": 4, "name": "Files", "kind": "fkObject",
        "encoding": "PacketList", "size": null, "itemClass": "TSetupFilePacket"})"));
    const auto all = std::find_if(classes.begin(), classes.end(), [](const json& c) { return c["name"] == "TAllFieldsPacket"; });
    ASSERT_NE(all, classes.end());
    EXPECT_EQ((*all)["fields"][11], json::parse(R"({"index": 11, "name": "Colour", "kind": "fkOther",
        "encoding": "Fixed", "size": 4, "itemClass": null})"));
    EXPECT_EQ((*all)["fields"][20]["itemClass"], "TTinyPacket");

    // The text form: a line with name and GUID, one with base, number and version, one per field.
    const TRun text = RunTool({"classes"});
    ASSERT_EQ(text.Code, 0) << text.Err;
    const std::vector<std::string> lines = Lines(text.Out);
    size_t at = 0;
    for (const TPacketClass* cls : registered) {
        ASSERT_LT(at + 1, lines.size());
        EXPECT_EQ(lines[at++], std::string(cls->Name) + " " + GuidToString(cls->Guid));
        EXPECT_EQ(lines[at++], "  base " + std::string(cls->Parent ? cls->Parent->Name : "(none)") + ", number " +
                                   std::to_string(cls->ClassNumber.load()) + ", version " +
                                   std::to_string(cls->FieldCount()));
        for (int32_t k = 0; k < cls->FieldCount(); ++k)
            EXPECT_EQ(lines[at++].rfind("  " + std::to_string(k) + " " + cls->FieldName(k) + ": ", 0), 0u);
    }
    EXPECT_EQ(at, lines.size());
    EXPECT_NE(text.Out.find("  4 Files: fkObject, PacketList of TSetupFilePacket\n"), std::string::npos);
}

// ---- Bad data -----------------------------------------------------------------------------------

// The one error line of a failed dump: exit code 1, nothing on standard output.
void ExpectOneErrorLine(const TRun& run, const std::string& path, const std::string& message) {
    EXPECT_EQ(run.Code, packettool::ExitFailure);
    EXPECT_EQ(run.Out, "");
    ASSERT_FALSE(run.Err.empty());
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
    EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.rfind("corvane-packet: '" + path + "': ", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
}

TEST_F(PacketToolTest, TruncationAtEveryByteIsOneErrorLine) {
    auto setup = SetupPacket();
    TPacketWriteContext context;
    for (const auto& [form, data] : {std::pair{"full", Bytes({setup.get()}, nullptr)},
                                     std::pair{"compact", Bytes({setup.get()}, &context)},
                                     std::pair{"compressed", Bytes({setup.get()}, nullptr, sfCompressed)}}) {
        for (size_t size = 0; size < data.size(); ++size) {
            SCOPED_TRACE(std::string(form) + " cut to " + std::to_string(size));
            const std::string path = File("cut.bin", data.substr(0, size));
            ExpectOneErrorLine(RunTool({"dump", path}), path, "");
        }
    }
}

TEST_F(PacketToolTest, CorruptDataIsOneErrorLineSayingWhereAndWhat) {
    auto setup = SetupPacket();
    TV5Packet v5;
    const std::string full = Bytes({setup.get()}, nullptr);
    TPacketWriteContext context;
    const std::string compact = Bytes({&v5}, &context);
    const std::string compressed = Bytes({setup.get()}, nullptr, sfCompressed);
    auto patched = [](std::string data, size_t at, const std::string& bytes) { return data.replace(at, bytes.size(), bytes); };
    const size_t license = PacketHeaderSize + 4 + 8;  // after Version and SetupDateTime
    TVirtualStream hello, notPacketsStream;
    hello.WriteBuffer("hello", 5);
    hello.Rewind();
    CompressStream(hello, 5, notPacketsStream, cfQuickLz131);
    const std::string notPackets(static_cast<const char*>(notPacketsStream.Memory()), static_cast<size_t>(notPacketsStream.Size()));

    struct TCase {
        std::string Name, Data, Message;
        std::vector<std::string> Options = {};
    };
    const std::vector<TCase> cases = {
        {"no packet data", "hello", "the file is no packet data: it begins with the byte 0x68"},
        {"an unknown format version", patched(full, 1, "\x01"), "packet 1 at offset 0 (of " + std::to_string(full.size()) +
                                                                     " bytes): Cannot load packet. Unknown format version: 258"},
        {"a total size beyond the file", patched(full, 5, "\x70"), "Total size"},
        {"an unregistered class", patched(full, 16, "\xAB"), "Unregistered packet class: {"},
        {"an unregistered class in a context", patched(compact, 4, "\xAB"), "Unregistered packet class in context: {"},
        {"a newer version in the compact form", patched(compact, 2, "\x07"), "Unsupported version of packet class: TV5Packet (version 7)"},
        {"a context number nobody gave", "\x04", "Invalid streaming context ID: 2", {"--class", "TV5Packet"}},
        {"a string longer than the packet", patched(full, license, std::string("\x01\xFF\xFF\x00", 4)), "Invalid packet data in TSetupPacket.LicenseAgreement"},
        {"data behind the packets", full + "junk", "packet 2 at offset " + std::to_string(full.size()) +
                                                   " (of " + std::to_string(full.size() + 4) + " bytes): "},
        {"a compressed part longer than the file", patched(compressed, 12, "\xFF\xFF"), "compressed stream 1 at offset 0: the part at offset 12 claims"},
        {"compressed parts that miss the total", patched(compressed, 8, std::string("\x01\x00\x00\x00", 4)), "compressed stream 1 at offset 0: its parts hold"},
        {"no compressed stream behind one", compressed + "junk", "compressed stream 2 at offset " + std::to_string(compressed.size()) + ": no \"sdc2\" header"},
        {"a compressed stream of no packet data", notPackets, "compressed stream 1 at offset 0 is no packet data"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = File("bad.bin", c.Data);
        std::vector<std::string> args = {"dump", path};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        ExpectOneErrorLine(RunTool(args), path, c.Message);
    }

    const std::string missing = (FDir / "missing.bin").string();
    EXPECT_EQ(RunTool({"dump", missing}).Err, "corvane-packet: cannot read '" + missing + "': No such file or directory\n");
    EXPECT_EQ(RunTool({"dump", FDir.string()}).Err, "corvane-packet: cannot read '" + FDir.string() + "': it is a directory\n");
}

// ---- Command lines ------------------------------------------------------------------------------

TEST_F(PacketToolTest, BadCommandLinesAreOneUsageLineAndHelpIsEverywhere) {
    const std::string file = File("one.bin", Bytes({SetupPacket().get()}, nullptr));
    struct TCase {
        std::vector<std::string> Args;
        std::string Err;
    };
    const std::vector<TCase> usage = {
        {{}, "a command is needed: classes or dump (see corvane-packet --help)"},
        {{"list"}, "unknown command 'list' (see corvane-packet --help)"},
        {{"classes", "--xml"}, "unknown option '--xml' (see corvane-packet classes --help)"},
        {{"classes", "TSetupPacket"}, "classes takes no argument ('TSetupPacket') (see corvane-packet classes --help)"},
        {{"dump"}, "dump needs a FILE (see corvane-packet dump --help)"},
        {{"dump", file, "--all"}, "unknown option '--all' (see corvane-packet dump --help)"},
        {{"dump", file, file}, "dump takes one file (see corvane-packet dump --help)"},
        {{"dump", file, "--class"}, "--class needs a value (see corvane-packet dump --help)"},
        {{"dump", file, "--class", "TNoSuchPacket"},
         "--class: no packet class 'TNoSuchPacket' (corvane-packet classes lists them) (see corvane-packet dump --help)"},
        {{"dump", file, "--blob-bytes", "-1"}, "--blob-bytes needs a number of bytes or 'all', not '-1' (see corvane-packet dump --help)"},
    };
    for (const TCase& c : usage) {
        const TRun run = RunTool(c.Args);
        EXPECT_EQ(run.Code, packettool::ExitUsage) << c.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "corvane-packet: " + c.Err + "\n");
    }

    // --help anywhere: the command's own help, or all of it, on standard output.
    for (const auto& [args, shows] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--help"}, "dump: reads FILE"}, {{"help"}, "classes: lists"}, {{"classes", "--help"}, "classes: lists"},
             {{"dump", "-h"}, "--class NAME"}, {{"dump", file, "--json", "--help"}, "--first"}}) {
        const TRun run = RunTool(args);
        EXPECT_EQ(run.Code, 0);
        EXPECT_EQ(run.Err, "");
        EXPECT_EQ(run.Out.rfind("usage: corvane-packet classes [--json]\n", 0), 0u);
        EXPECT_NE(run.Out.find(shows), std::string::npos) << args[0];
    }
}

}  // namespace
}  // namespace cm::test
