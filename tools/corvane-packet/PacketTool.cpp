#include "PacketTool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>

#include "Json.h"
#include "PacketInput.h"
#include "cm/Objects/DateTime.h"
#include "cm/Objects/Sha256.h"

namespace packettool {

using tooljson::JsonNumber;
using tooljson::JsonString;
using tooljson::TJsonWriter;

namespace {

constexpr const char* Program = "corvane-packet";
constexpr int64_t DefaultBlobBytes = 64;
constexpr int64_t AllBlobBytes = std::numeric_limits<int64_t>::max();

const char* const UsageText =
    "usage: corvane-packet classes [--json]\n"
    "       corvane-packet dump FILE [--json] [--first] [--class NAME]... [--blob-bytes N|all]\n"
    "       corvane-packet [COMMAND] --help\n";

const char* const ClassesHelp =
    "classes: lists the registered packet classes in registration order: name, GUID, base class,\n"
    "class number and version (the field count), then every field: index, name, kind and\n"
    "encoding (with the size of fixed fields and the class of nested packets and lists).\n"
    "  --json              as JSON: {\"classes\": [{\"name\", \"guid\", \"base\", \"number\", \"version\",\n"
    "                      \"fields\": [{\"index\", \"name\", \"kind\", \"encoding\", \"size\", \"itemClass\"}]}]}\n";

const char* const DumpHelp =
    "dump: reads FILE, one packet or a stream of packets of any registered class, and prints\n"
    "every packet's text form, or JSON. The form is found from the data itself:\n"
    "  \"sdc2\" first        compressed: compressed streams back to back, each holding packets\n"
    "                      as below\n"
    "  first byte 0x02     the full form (a 32-byte header: version 2, size, field count, class\n"
    "                      GUID); packets back to back to the end of the file\n"
    "  first byte 0x00     the compact form: packets written through one streaming context, a\n"
    "                      class named by its GUID record the first time, by its context number\n"
    "                      afterwards; packets back to back to the end of the file\n"
    "  --json              as JSON: {\"form\", \"compressed\", \"streams\", \"packets\": [{\"offset\",\n"
    "                      \"size\", \"stream\", \"storedVersion\", \"class\", \"guid\", \"fields\"}]}\n"
    "  --first             read the first packet only and ignore what follows it (Setup.pak: the\n"
    "                      setup executable behind its packet)\n"
    "  --class NAME        the data is compact packets continuing a streaming context that knew\n"
    "                      classes before: NAME has context number 1, the next --class number 2,\n"
    "                      and so on, each at this program's version of the class. Compact data\n"
    "                      that begins with a context number cannot name its classes itself.\n"
    "  --blob-bytes N|all  JSON: how many bytes of each blob to show in hex (default 64)\n";

const char* const ErrorsHelp =
    "Errors are one line on standard error naming the file and what is wrong (the packet's number\n"
    "and offset, the reader's message), with exit code 1, or 2 for wrong usage; nothing is written\n"
    "to standard output then.\n";

struct TUsageError {
    std::string Message;
    std::string HelpOf;  // the command whose --help the message points to
};

[[noreturn]] void UsageError(const std::string& message, const std::string& command = "") {
    throw TUsageError{message, command};
}

// ---- Names of kinds and encodings -------------------------------------------------------------

const char* KindName(cm::TFieldKind kind) {
    static const char* const names[] = {"fkOther", "fkString", "fkInteger", "fkBoolean", "fkFloat", "fkObject"};
    return kind >= 0 && kind < static_cast<int>(std::size(names)) ? names[kind] : "fkOther";
}

const char* CodingName(cm::TFieldCoding coding) {
    static const char* const names[] = {
        "Int8", "UInt8", "Int16", "UInt16", "Int32", "UInt32", "Int64", "CompactInt", "Handle", "Boolean", "Double",
        "DateTime", "Fixed", "Guid", "Record", "String", "WideString", "StringList", "StringListText", "Blob",
        "Packet", "OptionalPacket", "PacketList", "RecordList"};
    static_assert(std::size(names) == static_cast<size_t>(cm::TFieldCoding::RecordList) + 1);
    return names[static_cast<size_t>(coding)];
}

bool HasSize(cm::TFieldCoding coding) {
    return coding == cm::TFieldCoding::Fixed || coding == cm::TFieldCoding::Record;
}

// The class of the packets a field holds (nested packets, packet lists), or nullptr. The field
// table names it (TPacket: any registered class).
const cm::TPacketClass* ItemClassOf(const cm::TFieldDef& def) {
    switch (def.Coding) {
        case cm::TFieldCoding::Packet:
        case cm::TFieldCoding::OptionalPacket:
        case cm::TFieldCoding::PacketList:
            return def.ItemClass;
        default:
            return nullptr;
    }
}

// ---- classes ----------------------------------------------------------------------------------

std::string ClassesText() {
    std::string out;
    for (const cm::TPacketClass* cls : cm::RegisteredPacketClasses()) {
        out += std::string(cls->Name) + " " + cm::GuidToString(cls->Guid) + "\n";
        out += "  base " + std::string(cls->Parent ? cls->Parent->Name : "(none)") + ", number " +
               std::to_string(cls->ClassNumber.load()) + ", version " + std::to_string(cls->FieldCount()) + "\n";
        for (int32_t i = 0; i < cls->FieldCount(); ++i) {
            const cm::TFieldDef& def = *cls->FieldDef(i);
            out += "  " + std::to_string(i) + " " + cls->FieldName(i) + ": " + KindName(cls->FieldKind(i)) + ", " +
                   CodingName(def.Coding);
            if (HasSize(def.Coding))
                out += " (" + std::to_string(def.Size) + (def.Size == 1 ? " byte)" : " bytes)");
            if (const cm::TPacketClass* item = ItemClassOf(def))
                out += " of " + std::string(item->Name);
            out += "\n";
        }
    }
    return out;
}

std::string ClassesJson() {
    TJsonWriter json;
    json.BeginObject();
    json.Key("classes").BeginArray();
    for (const cm::TPacketClass* cls : cm::RegisteredPacketClasses()) {
        json.BeginObject();
        json.Key("name").String(cls->Name);
        json.Key("guid").String(cm::GuidToString(cls->Guid));
        if (cls->Parent)
            json.Key("base").String(cls->Parent->Name);
        else
            json.Key("base").Null();
        json.Key("number").Integer(cls->ClassNumber.load());
        json.Key("version").Integer(cls->FieldCount());
        json.Key("fields").BeginArray();
        for (int32_t i = 0; i < cls->FieldCount(); ++i) {
            const cm::TFieldDef& def = *cls->FieldDef(i);
            json.BeginObject();
            json.Key("index").Integer(i);
            json.Key("name").String(cls->FieldName(i));
            json.Key("kind").String(KindName(cls->FieldKind(i)));
            json.Key("encoding").String(CodingName(def.Coding));
            if (HasSize(def.Coding))
                json.Key("size").Integer(def.Size);
            else
                json.Key("size").Null();
            if (const cm::TPacketClass* item = ItemClassOf(def))
                json.Key("itemClass").String(item->Name);
            else
                json.Key("itemClass").Null();
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

// ---- dump: JSON -------------------------------------------------------------------------------

std::string HexBytes(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = static_cast<const uint8_t*>(data)[i];
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

template <class T>
T& MemberAs(void* member) {
    return *static_cast<T*>(member);
}

class TPacketJson {
public:
    TPacketJson(TJsonWriter& json, int64_t blobBytes) : FJson(json), FBlobBytes(blobBytes) {}

    // "class", "guid" and "fields" of the packet, as members of the object being written.
    void Members(cm::TPacket& packet) {
        const cm::TPacketClass& cls = packet.ClassType();
        FJson.Key("class").String(cls.Name);
        FJson.Key("guid").String(cm::GuidToString(cls.Guid));
        FJson.Key("fields").BeginObject();
        for (int32_t i = 0; i < cls.FieldCount(); ++i) {
            const cm::TFieldDef& def = *cls.FieldDef(i);
            FJson.Key(cls.FieldName(i));
            Value(packet, i, def);
        }
        FJson.EndObject();
    }

private:
    void NestedPacket(cm::TPacket* packet) {
        if (!packet) {
            FJson.Null();
            return;
        }
        FJson.BeginObject();
        Members(*packet);
        FJson.EndObject();
    }

    void Strings(const cm::TStringListEx& list) {
        FJson.BeginArray();
        for (int32_t i = 0; i < list.Count(); ++i)
            FJson.String(list[i]);
        FJson.EndArray();
    }

    void Value(cm::TPacket& packet, int32_t index, const cm::TFieldDef& def) {
        using enum cm::TFieldCoding;
        void* member = def.Locate(packet);
        switch (def.Coding) {
            case Int8: FJson.Integer(MemberAs<int8_t>(member)); break;
            case UInt8: FJson.Integer(MemberAs<uint8_t>(member)); break;
            case Int16: FJson.Integer(MemberAs<int16_t>(member)); break;
            case UInt16: FJson.Integer(MemberAs<uint16_t>(member)); break;
            case Int32:
            case CompactInt: FJson.Integer(MemberAs<int32_t>(member)); break;
            case UInt32: FJson.Integer(MemberAs<uint32_t>(member)); break;
            case Int64: FJson.Integer(MemberAs<int64_t>(member)); break;
            case Handle: FJson.Integer(MemberAs<cm::TPacketHandle>(member)); break;
            case Boolean: FJson.Boolean(MemberAs<bool>(member)); break;
            case Double: FJson.Raw(JsonNumber(MemberAs<double>(member))); break;
            case DateTime: {
                const double days = MemberAs<double>(member);
                FJson.BeginObject();
                FJson.Key("days").Raw(JsonNumber(days));
                FJson.Key("text").String(cm::DateTimeToText(days));
                FJson.EndObject();
                break;
            }
            case Fixed:
            case Record: FJson.String(HexBytes(member, def.Size)); break;
            case Guid: FJson.String(cm::GuidToString(MemberAs<cm::TGuid>(member))); break;
            case String: FJson.String(MemberAs<std::string>(member)); break;
            case WideString: FJson.Raw(JsonString(MemberAs<std::u16string>(member))); break;
            case StringList:
            case StringListText: Strings(MemberAs<cm::TStringListEx>(member)); break;
            case Blob: {
                auto& blob = MemberAs<cm::TVirtualStream>(member);
                const size_t size = static_cast<size_t>(blob.Size());
                const std::string_view bytes(static_cast<const char*>(blob.Memory()), size);
                FJson.BeginObject();
                FJson.Key("size").Integer(static_cast<int64_t>(size));
                FJson.Key("sha256").String(cm::DigestToHex(cm::Sha256(bytes)));
                FJson.Key("hex").String(HexBytes(bytes.data(), static_cast<size_t>(std::min<int64_t>(FBlobBytes, size))));
                FJson.EndObject();
                break;
            }
            case Packet:
            // Through the engine: the member may be a typed holder or a plain owning pointer.
            case OptionalPacket: NestedPacket(packet.GetFieldAsObject(index).AsPacket()); break;
            case PacketList: {
                auto& list = MemberAs<cm::TCustomPacketList>(member);
                FJson.BeginArray();
                for (int32_t i = 0; i < list.Count(); ++i)
                    NestedPacket(list.Items(i));
                FJson.EndArray();
                break;
            }
            case RecordList: {
                auto& list = MemberAs<cm::TCustomList>(member);
                FJson.BeginObject();
                FJson.Key("recordSize").Integer(list.ItemSize());
                FJson.Key("records").BeginArray();
                for (int32_t i = 0; i < list.Count(); ++i)
                    FJson.String(HexBytes(list.ItemAt(i), static_cast<size_t>(list.ItemSize())));
                FJson.EndArray();
                FJson.EndObject();
                break;
            }
        }
    }

    TJsonWriter& FJson;
    int64_t FBlobBytes;
};

const char* FormName(TPacketForm form) {
    return form == TPacketForm::Full ? "full" : "compact";
}

std::string DumpJson(const TPacketFile& file, int64_t blobBytes) {
    TJsonWriter json;
    json.BeginObject();
    json.Key("form").String(FormName(file.Form));
    json.Key("compressed").Boolean(file.Compressed);
    json.Key("streams").BeginArray();
    for (const TCompressedStream& s : file.Streams) {
        json.BeginObject();
        json.Key("offset").Integer(s.Offset);
        json.Key("size").Integer(s.Size);
        json.Key("formatId").Integer(s.FormatId);
        json.Key("decompressedSize").Integer(s.DecompressedSize);
        json.EndObject();
    }
    json.EndArray();
    json.Key("packets").BeginArray();
    TPacketJson packets(json, blobBytes);
    for (const TFilePacket& p : file.Packets) {
        json.BeginObject();
        json.Key("offset").Integer(p.Offset);
        json.Key("size").Integer(p.Size);
        if (p.Stream > 0)
            json.Key("stream").Integer(p.Stream);
        else
            json.Key("stream").Null();
        json.Key("storedVersion").Integer(p.StoredFieldCount);
        packets.Members(*p.Packet);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

// ---- dump: text -------------------------------------------------------------------------------

std::string DumpText(const TPacketFile& file) {
    const size_t n = file.Packets.size();
    std::string out = std::to_string(n) + (n == 1 ? " packet, " : " packets, ") + FormName(file.Form) + " form" +
                      (file.Compressed ? ", compressed" : "") + "\n";
    for (size_t i = 0; i < file.Streams.size(); ++i) {
        const TCompressedStream& s = file.Streams[i];
        out += "stream " + std::to_string(i + 1) + ": offset " + std::to_string(s.Offset) + ", " +
               std::to_string(s.Size) + " bytes, format id " + std::to_string(s.FormatId) + ", " +
               std::to_string(s.DecompressedSize) + " bytes decompressed\n";
    }
    for (size_t i = 0; i < n; ++i) {
        const TFilePacket& p = file.Packets[i];
        out += "[" + std::to_string(i + 1) + "/" + std::to_string(n) + "] ";
        if (p.Stream > 0)
            out += "stream " + std::to_string(p.Stream) + ", ";
        out += "offset " + std::to_string(p.Offset) + ", " + std::to_string(p.Size) + " bytes, version " +
               std::to_string(p.StoredFieldCount);
        const int32_t own = p.Packet->ClassType().FieldCount();
        if (own != p.StoredFieldCount)
            out += " (this program's: " + std::to_string(own) + ")";
        out += "\n";
        for (const std::string& line : p.Packet->DumpLines())
            out += line + "\n";
        out += "\n";
    }
    return out;
}

// ---- Files --------------------------------------------------------------------------------------

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string ReadFile(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::path(path), error))
        throw EPacketInput("cannot read " + Quoted(path) + ": it is a directory");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw EPacketInput("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    std::string bytes;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        throw EPacketInput("cannot read " + Quoted(path) + ": read error");
    return bytes;
}

// ---- Commands -----------------------------------------------------------------------------------

bool IsHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

std::string Classes(const std::vector<std::string>& args) {
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else if (!a.empty() && a[0] == '-') UsageError("unknown option '" + a + "'", "classes");
        else UsageError("classes takes no argument ('" + a + "')", "classes");
    }
    return json ? ClassesJson() : ClassesText();
}

std::string Dump(const std::vector<std::string>& args) {
    std::string path;
    bool json = false, havePath = false;
    int64_t blobBytes = DefaultBlobBytes;
    TReadOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) UsageError(a + " needs a value", "dump");
            return args[++i];
        };
        if (a == "--json") json = true;
        else if (a == "--first") options.FirstOnly = true;
        else if (a == "--class") {
            const std::string& name = value();
            const cm::TPacketClass* cls = FindPacketClassByName(name);
            if (!cls) UsageError("--class: no packet class '" + name + "' (corvane-packet classes lists them)", "dump");
            options.ContextClasses.push_back(cls);
        } else if (a == "--blob-bytes") {
            const std::string& text = value();
            if (text == "all") {
                blobBytes = AllBlobBytes;
            } else {
                char* end = nullptr;
                errno = 0;
                const long long n = std::strtoll(text.c_str(), &end, 10);
                if (text.empty() || *end || errno || n < 0 || !(text[0] >= '0' && text[0] <= '9'))
                    UsageError("--blob-bytes needs a number of bytes or 'all', not '" + text + "'", "dump");
                blobBytes = n;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            UsageError("unknown option '" + a + "'", "dump");
        } else if (havePath) {
            UsageError("dump takes one file", "dump");
        } else {
            path = a;
            havePath = true;
        }
    }
    if (!havePath) UsageError("dump needs a FILE", "dump");
    const std::string data = ReadFile(path);
    TPacketFile file;
    try {
        file = ReadPacketFile(data, options);
    } catch (const EPacketInput& e) {
        throw EPacketInput(Quoted(path) + ": " + e.what());
    }
    return json ? DumpJson(file, blobBytes) : DumpText(file);
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

}  // namespace

int RunPacketTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string command = args.empty() ? "" : args[0];
    const std::vector<std::string> rest(args.empty() ? args.begin() : args.begin() + 1, args.end());
    bool help = false;
    for (const std::string& a : args)
        help = help || IsHelp(a);
    try {
        if (help || command == "help") {
            if (command == "classes") out << UsageText << "\n" << ClassesHelp;
            else if (command == "dump") out << UsageText << "\n" << DumpHelp << "\n" << ErrorsHelp;
            else out << UsageText << "\n" << ClassesHelp << "\n" << DumpHelp << "\n" << ErrorsHelp;
            return ExitOk;
        }
        if (command.empty()) UsageError("a command is needed: classes or dump");
        std::string result;
        if (command == "classes") result = Classes(rest);
        else if (command == "dump") result = Dump(rest);
        else UsageError("unknown command '" + command + "'");
        out << result;
        return ExitOk;
    } catch (const TUsageError& e) {
        err << Program << ": " << OneLine(e.Message) << " (see " << Program
            << (e.HelpOf.empty() ? "" : " " + e.HelpOf) << " --help)\n";
        return ExitUsage;
    } catch (const std::exception& e) {
        err << Program << ": " << OneLine(e.what()) << "\n";
        return ExitFailure;
    }
}

}  // namespace packettool
