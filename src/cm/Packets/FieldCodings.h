// Internals of the packet engine: what each field coding does, as one constant table of
// operations per coding (FieldCodings.cpp), and the lookup from a coding to its table. The engine
// (PacketCodec.cpp, PacketReflect.cpp, PacketClass.cpp) does nothing coding-specific itself: it
// walks a class's fields and calls the table of each field's coding. Not for users of packets.
//
// Adding a coding: its enumerator and member type in Packets.h (TFieldCoding, MemberFits), one
// table in FieldCodings.cpp and its entry in the lookup there. The lookup checks at compile time
// that the tables stand in enumeration order; a table that leaves an operation out draws the
// compiler's missing-initializer warning (-Wextra), and a coding without a table the lookup's
// assertion.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Packets/Packets.h"

namespace cm {

class TFieldReader;

// What GetFieldAsObject hands out for a coding (and TFieldObject's As... casts accept).
enum class TFieldObjectType : uint8_t { None, Packet, PacketList, Stream, Strings, List };

// The kind of a coding and its typed accessors; nullptr where the kind offers no such conversion
// (the engine then raises "Cannot get field as ...: Class.Field"). There is one set per kind, so
// the conversions follow from the kind: integers offer integer, string and double; booleans
// integer and string; floats string and double; strings string; objects object; others none.
// Every operation receives the field's member (TFieldDef::Locate).
struct TFieldAccess {
    TFieldKind Kind;               // what FieldKind reports
    TFieldObjectType ObjectType;   // None unless Kind is fkObject
    // Integers widened to 64 bits, booleans 0 or 1.
    int64_t (*GetInteger)(const void* member);
    // Integers keep the value's low bits; booleans take non-zero as true.
    void (*SetInteger)(void* member, int64_t value);
    std::string (*GetString)(const void* member);
    // Raises the runtime's conversion messages on bad text; the member then keeps its value.
    void (*SetString)(void* member, const std::string& text);
    double (*GetDouble)(const void* member);
    // Integers take the value rounded half to even (raising beyond 64 bits).
    void (*SetDouble)(void* member, double value);
    // The owned object (still owned by the packet); nullptr for an absent optional packet.
    void* (*GetObject)(void* member);
};

// The operations of one coding. Each receives the field's definition (for its size, default and
// item class) and its member inside a packet.
struct TFieldCodingOps {
    TFieldCoding Coding;
    // Appends the member's encoding at the stream's position (a context: the compact form for
    // nested packets and compact blob lengths).
    void (*Write)(const TFieldDef& def, void* member, TStream& stream, TPacketWriteContext* context);
    // Decodes the member from the reader, never past its limit; nested packets and lists are
    // charged to the read's build budget. Raises on data that ends early or lies.
    void (*Read)(const TFieldDef& def, void* member, TFieldReader& reader, TPacketReadContext* context);
    // Back to the default; owned containers are emptied, not freed (a missing nested packet of a
    // Packet field is created).
    void (*Reset)(const TFieldDef& def, void* member);
    // Deep copy of source into dest.
    void (*Copy)(const TFieldDef& def, void* dest, void* source);
    // Field equality: numbers by value (doubles by floating-point equality), strings and raw
    // members bytewise, objects with their Equals.
    bool (*Same)(const TFieldDef& def, void* a, void* b);
    // The text form of GetFieldText: 0 (none), 1 (one line) or 2 (several lines, each ending CR LF).
    int (*Text)(const TFieldDef& def, void* member, std::string& text);
    // The kind, and the typed accessors with the text read by SetFieldAsString.
    TFieldAccess Access;
};

// The table of a coding. Every coding has one (a coding outside the enumeration is an assertion).
const TFieldCodingOps& CodingOps(TFieldCoding coding);

}  // namespace cm
