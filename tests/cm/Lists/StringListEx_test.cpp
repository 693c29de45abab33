#include <gtest/gtest.h>

#include "support/MessageOf.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cm/Lists/StringListEx.h"

namespace cm {
namespace {

std::string MessageOf(const std::function<void()>& action) { return test::MessageOf<EStringListError>(action); }

using Flags = TStringListEx;
using Lines = std::vector<std::string>;

// A growable memory stream over a std::vector.
class TVectorStream : public TCustomMemoryStream {
public:
    explicit TVectorStream(const std::string& bytes = {}) {
        Write(bytes.data(), static_cast<int32_t>(bytes.size()));
        SetPosition(0);
    }
    std::string Bytes() const { return std::string(static_cast<const char*>(FMemory), static_cast<size_t>(FSize)); }

protected:
    void* Realloc(int32_t& newCapacity) override {
        Block.resize(static_cast<size_t>(newCapacity));
        return Block.data();
    }

private:
    std::vector<char> Block;
};

// An object that records its destruction.
struct TTracked : TObject {
    TTracked(int id, std::vector<int>& freed) : Id(id), Freed(freed) {}
    ~TTracked() override { Freed.push_back(Id); }
    int Id;
    std::vector<int>& Freed;
};

Lines Strings(const TStrings& list) {
    Lines lines;
    for (int32_t i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    return lines;
}

void Fill(TStrings& list, const Lines& lines) {
    for (const auto& s : lines) list.Add(s);
}

TEST(StringListText, SplitsOnCrLfAndCrLfAndJoinsWithCrLf) {
    struct Case { std::string text; Lines lines; };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},          // LF then CR are two line ends
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {"a\r\n\r\n", {"a", ""}},
        {"x\r", {"x"}},
        {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}},
    };
    for (const auto& c : cases) {
        TStringListEx list;
        list.Add("old");
        list.SetText(c.text);
        EXPECT_EQ(c.lines, Strings(list)) << testing::PrintToString(c.text);
        std::string joined;
        for (const auto& line : c.lines) joined += line + "\r\n";
        EXPECT_EQ(joined, list.Text());
    }
}

TEST(StringListText, StreamRoundTripIsTheTextFromThePosition) {
    TStringListEx list;
    Fill(list, {"one", "", "three"});
    TVectorStream stream("HDR");
    stream.Seek(0, soEnd);
    list.SaveToStream(stream);
    EXPECT_EQ(std::string("HDRone\r\n\r\nthree\r\n"), stream.Bytes());

    TVectorStream input("HDRx\ry\nz");
    input.SetPosition(3);
    TStringListEx loaded;
    loaded.Add("stale");
    loaded.LoadFromStream(input);
    EXPECT_EQ((Lines{"x", "y", "z"}), Strings(loaded));
    EXPECT_EQ(input.Size(), input.Position());

    input.SetPosition(100);  // past the end: nothing remains
    loaded.LoadFromStream(input);
    EXPECT_EQ(0, loaded.Count());
}

TEST(StringListEx, CreationFlags) {
    struct Case { uint32_t flags; bool sorted; TStringListEx::TDuplicates dup; bool caseSensitive; bool owns; };
    const Case cases[] = {
        {0, false, TStringListEx::dupIgnore, false, false},
        {Flags::slCaseSensitive, false, TStringListEx::dupIgnore, true, false},
        {Flags::slSorted | Flags::slDupError, true, TStringListEx::dupError, false, false},
        {Flags::slDupAccept, false, TStringListEx::dupAccept, false, false},
        {Flags::slDupIgnore | Flags::slDupError | Flags::slDupAccept, false, TStringListEx::dupIgnore, false, false},
        {Flags::slOwnsObjects, false, TStringListEx::dupIgnore, false, true},
    };
    for (const auto& c : cases) {
        TStringListEx list(c.flags);
        EXPECT_EQ(c.sorted, list.Sorted()) << c.flags;
        EXPECT_EQ(c.dup, list.Duplicates()) << c.flags;
        EXPECT_EQ(c.caseSensitive, list.CaseSensitive()) << c.flags;
        EXPECT_EQ(c.owns, list.OwnsObjects()) << c.flags;
    }
}

TEST(StringListEx, IndexOfFoldsAsciiLettersOnlyUnlessCaseSensitive) {
    struct Case { uint32_t flags; const char* stored; const char* sought; int32_t index; };
    const Case cases[] = {
        {0, "setup.exe", "SETUP.EXE", 1},
        {Flags::slSorted, "setup.exe", "SETUP.EXE", 1},
        {Flags::slCaseSensitive, "setup.exe", "SETUP.EXE", -1},
        {Flags::slCaseSensitive | Flags::slSorted, "setup.exe", "SETUP.EXE", -1},
        {0, "\xE4", "\xC4", -1},   // code-page letters are not folded
        {0, "[", "{", -1},
        {0, "abc", "abcd", -1},
    };
    for (const auto& c : cases) {
        TStringListEx list(c.flags);
        Fill(list, {"0", c.stored, "zz"});
        EXPECT_EQ(c.index, list.IndexOf(c.sought)) << c.flags << " " << c.sought;
    }
}

TEST(StringListEx, SortedAddFollowsTheDuplicatePolicy) {
    struct Case { uint32_t flags; Lines added; Lines result; std::vector<int32_t> indices; };
    const Case cases[] = {
        {Flags::slSorted, {"b", "a", "c", "B"}, {"a", "b", "c"}, {0, 0, 2, 1}},
        {Flags::slSorted | Flags::slCaseSensitive, {"b", "a", "B"}, {"B", "a", "b"}, {0, 0, 0}},
        {Flags::slSorted | Flags::slDupAccept, {"b", "a", "b", "b"}, {"a", "b", "b", "b"}, {0, 0, 1, 1}},
        {0, {"b", "a", "b"}, {"b", "a", "b"}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        TStringListEx list(c.flags);
        std::vector<int32_t> indices;
        for (const auto& s : c.added) indices.push_back(list.Add(s));
        EXPECT_EQ(c.result, Strings(list)) << c.flags;
        EXPECT_EQ(c.indices, indices) << c.flags;
    }

    TStringListEx strict(Flags::slSorted | Flags::slDupError);
    Fill(strict, {"b", "a"});
    EXPECT_EQ("TStringListEx: String list does not allow duplicates", MessageOf([&] { strict.Add("A"); }));
    EXPECT_EQ((Lines{"a", "b"}), Strings(strict));
}

TEST(StringListEx, FindWithDuplicatesAcceptedReturnsTheFirstEqual) {
    TStringListEx list(Flags::slSorted | Flags::slDupAccept);
    Fill(list, {"k", "a", "k", "z", "k", "b"});
    int32_t index = -1;
    EXPECT_TRUE(list.Find("K", index));
    EXPECT_EQ(2, index);
    EXPECT_EQ(2, list.IndexOf("k"));
    EXPECT_FALSE(list.Find("m", index));
    EXPECT_EQ(5, index);  // the insertion place
    EXPECT_FALSE(list.Find("", index));
    EXPECT_EQ(0, index);
}

TEST(StringListEx, RefusedOperationsNameTheClassAndLeaveTheListUnchanged) {
    TStringListEx sorted(Flags::slSorted);
    Fill(sorted, {"a", "b"});
    TStringListEx plain;
    Fill(plain, {"a", "b"});
    struct Case { const char* what; std::function<void()> action; std::string message; };
    const Case cases[] = {
        {"insert sorted", [&] { sorted.Insert(0, "c"); }, "TStringListEx: Operation not allowed on sorted string list"},
        {"put sorted", [&] { sorted.Put(0, "c"); }, "TStringListEx: Operation not allowed on sorted string list"},
        {"exchange sorted", [&] { sorted.Exchange(0, 1); }, "TStringListEx: Operation not allowed on sorted string list"},
        {"get -1", [&] { plain.Get(-1); }, "TStringListEx: List index out of bounds (-1)"},
        {"get count", [&] { plain.Get(2); }, "TStringListEx: List index out of bounds (2)"},
        {"object", [&] { plain.GetObject(2); }, "TStringListEx: List index out of bounds (2)"},
        {"put object", [&] { plain.PutObject(5, nullptr); }, "TStringListEx: List index out of bounds (5)"},
        {"put", [&] { plain.Put(2, "x"); }, "TStringListEx: List index out of bounds (2)"},
        {"insert", [&] { plain.Insert(3, "x"); }, "TStringListEx: List index out of bounds (3)"},
        {"delete", [&] { plain.Delete(2); }, "TStringListEx: List index out of bounds (2)"},
        {"exchange", [&] { plain.Exchange(0, 7); }, "TStringListEx: List index out of bounds (7)"},
        {"capacity", [&] { plain.SetCapacity(1); }, "TStringListEx: List capacity out of bounds (1)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.message, MessageOf(c.action)) << c.what;
    EXPECT_EQ((Lines{"a", "b"}), Strings(sorted));
    EXPECT_EQ((Lines{"a", "b"}), Strings(plain));

    plain.Insert(2, "c");  // inserting at Count appends
    plain.Exchange(0, 2);
    plain.Put(1, "B");
    EXPECT_EQ((Lines{"c", "B", "a"}), Strings(plain));
}

TEST(StringListEx, CapacityGrowthAndReservation) {
    struct Case { int appends; int32_t capacity; };
    const Case cases[] = {{1, 4}, {5, 8}, {9, 12}, {13, 28}, {29, 44}, {65, 76}, {77, 95}};
    for (const auto& c : cases) {
        TStringListEx list;
        for (int i = 0; i < c.appends; ++i) list.Add(std::to_string(i));
        EXPECT_EQ(c.capacity, list.Capacity()) << c.appends;
    }

    struct Reserve { int32_t have; int32_t n; int32_t capacity; };
    const Reserve reserves[] = {{0, 1, 16}, {0, 16, 16}, {0, 17, 32}, {0, 100, 128}, {40, 30, 40}};
    for (const auto& r : reserves) {
        TStringListEx list;
        list.SetCapacity(r.have);
        list.ReserveRoom(r.n);
        EXPECT_EQ(r.capacity, list.Capacity()) << r.have << " " << r.n;
    }

    TStringListEx list;
    list.Add("only");
    list.Delete(0);
    EXPECT_EQ(0, list.Capacity());
}

TEST(StringListEx, OwnedObjectsAreFreedWhenDropped) {
    std::vector<int> freed;
    {
        TStringListEx list(Flags::slOwnsObjects);
        for (int i = 0; i < 5; ++i) list.AddObject(std::to_string(i), new TTracked(i, freed));
        list.Delete(1);
        EXPECT_EQ((std::vector<int>{1}), freed);
        TObject* kept = list.GetObject(0);
        list.PutObject(0, kept);  // the same object is not freed
        list.PutObject(0, new TTracked(10, freed));
        EXPECT_EQ((std::vector<int>{1, 0}), freed);
        list.Put(1, "renamed");  // a string change keeps the object
        EXPECT_EQ((std::vector<int>{1, 0}), freed);
        list.Delete(3);
        EXPECT_EQ((std::vector<int>{1, 0, 4}), freed);
    }
    std::sort(freed.begin(), freed.end());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 10}), freed);

    freed.clear();
    TTracked a(1, freed), b(2, freed);
    {
        TStringListEx list;  // not owning
        list.AddObject("a", &a);
        list.AddObject("b", &b);
        list.Delete(0);
        list.PutObject(0, nullptr);
        list.AddObject("c", &a);
        list.Clear();
        list.AddObject("d", &b);
    }
    EXPECT_TRUE(freed.empty());
}

TObject* const A1 = reinterpret_cast<TObject*>(0x1001);
TObject* const A2 = reinterpret_cast<TObject*>(0x1002);
TObject* const B1 = reinterpret_cast<TObject*>(0x2001);
TObject* const B2 = reinterpret_cast<TObject*>(0x2002);
TObject* const B3 = reinterpret_cast<TObject*>(0x2003);

// Maps an object to itself + 0x100 and records which objects it saw.
TObject* MapPlus(void* context, TObject* object) {
    static_cast<std::vector<TObject*>*>(context)->push_back(object);
    return reinterpret_cast<TObject*>(reinterpret_cast<uintptr_t>(object) + 0x100);
}

TObject* Mapped(TObject* object) { return reinterpret_cast<TObject*>(reinterpret_cast<uintptr_t>(object) + 0x100); }

struct Entry {
    std::string s;
    TObject* o;
    bool operator==(const Entry&) const = default;
};
using Entries = std::vector<Entry>;

Entries EntriesOf(const TStringListEx& list) {
    Entries entries;
    for (int32_t i = 0; i < list.Count(); ++i) entries.push_back({list[i], list.GetObject(i)});
    return entries;
}

void PrintTo(const Entry& e, std::ostream* os) { *os << e.s << "/" << e.o; }

TEST(StringListEx, AddStringsMappedMergesOrAddsOneByOne) {
    struct Case {
        const char* what;
        uint32_t targetFlags;
        uint32_t sourceFlags;
        Entries target;
        Entries source;
        Entries result;
        std::vector<TObject*> mapped;  // objects passed to MapObject, in order
    };
    const Case cases[] = {
        {"merge, ignore", Flags::slSorted, Flags::slSorted,
         {{"b", A1}, {"d", A2}}, {{"a", B1}, {"B", B2}, {"e", B3}},
         {{"a", Mapped(B1)}, {"b", A1}, {"d", A2}, {"e", Mapped(B3)}}, {B1, B3}},
        {"merge, accept: source after the copy's equal entry", Flags::slSorted | Flags::slDupAccept,
         Flags::slSorted | Flags::slDupAccept,
         {{"b", A1}, {"d", A2}}, {{"b", B2}, {"b", B1}, {"c", B3}},  // an equal string goes before: B1, B2
         {{"b", A1}, {"b", Mapped(B1)}, {"b", Mapped(B2)}, {"c", Mapped(B3)}, {"d", A2}}, {B1, B2, B3}},
        {"merge, ignore: the source's own duplicates are not doubled", Flags::slSorted,
         Flags::slSorted | Flags::slDupAccept,
         {{"c", A1}}, {{"a", B2}, {"a", B1}, {"c", B3}},
         {{"a", Mapped(B1)}, {"c", A1}}, {B1}},
        {"different case sensitivity: one by one", Flags::slSorted, Flags::slSorted | Flags::slCaseSensitive,
         {{"b", A1}}, {{"B", B1}, {"a", B2}},
         {{"a", Mapped(B2)}, {"b", A1}}, {B2}},
        {"unsorted source into sorted list", Flags::slSorted | Flags::slDupAccept, 0,
         {{"b", A1}}, {{"c", B1}, {"a", B2}, {"b", B3}},
         {{"a", Mapped(B2)}, {"b", Mapped(B3)}, {"b", A1}, {"c", Mapped(B1)}}, {B1, B2, B3}},
        {"unsorted list appends", 0, Flags::slSorted,
         {{"b", A1}}, {{"a", B1}, {"b", B2}},
         {{"b", A1}, {"a", Mapped(B1)}, {"b", Mapped(B2)}}, {B1, B2}},
        {"empty source", Flags::slSorted, Flags::slSorted, {{"b", A1}}, {}, {{"b", A1}}, {}},
        {"empty target", Flags::slSorted, Flags::slSorted, {}, {{"a", B1}}, {{"a", Mapped(B1)}}, {B1}},
    };
    for (const auto& c : cases) {
        TStringListEx target(c.targetFlags), source(c.sourceFlags);
        for (const auto& e : c.target) target.AddObject(e.s, e.o);
        for (const auto& e : c.source) source.AddObject(e.s, e.o);
        std::vector<TObject*> seen;
        target.AddStringsMapped(source, MapPlus, &seen);
        EXPECT_EQ(c.result, EntriesOf(target)) << c.what;
        EXPECT_EQ(c.mapped, seen) << c.what;
        EXPECT_EQ(0, target.UpdateCount());
    }

    // Without MapObject the objects are taken unchanged.
    TStringListEx target(Flags::slSorted), source(Flags::slSorted);
    target.AddObject("b", A1);
    source.AddObject("a", B1);
    target.AddStrings(source);
    EXPECT_EQ((Entries{{"a", B1}, {"b", A1}}), EntriesOf(target));
}

TEST(StringListEx, AddStringsMappedRefusesDuplicatesBeforeChangingAnything) {
    struct Case { const char* what; uint32_t sourceFlags; Lines source; };
    const Case cases[] = {
        {"merge", Flags::slSorted, {"a", "C", "d"}},
        {"merge, source with its own duplicates", Flags::slSorted | Flags::slDupAccept, {"a", "a"}},
        {"one by one", 0, {"a", "c"}},
        {"one by one, source with its own duplicates", 0, {"e", "a", "E"}},
    };
    for (const auto& c : cases) {
        TStringListEx target(Flags::slSorted | Flags::slDupError), source(c.sourceFlags);
        target.AddObject("b", A1);
        target.AddObject("c", A2);
        for (const auto& s : c.source) source.AddObject(s, B1);
        std::vector<TObject*> seen;
        EXPECT_EQ("TStringListEx: String list does not allow duplicates",
                  MessageOf([&] { target.AddStringsMapped(source, MapPlus, &seen); }))
            << c.what;
        EXPECT_EQ((Entries{{"b", A1}, {"c", A2}}), EntriesOf(target)) << c.what;
        EXPECT_TRUE(seen.empty()) << c.what;
        EXPECT_EQ(0, target.UpdateCount());
    }
}

TEST(StringListEx, SortAndCustomSort) {
    struct Case { uint32_t flags; Lines input; Lines sorted; };
    const Case cases[] = {
        {0, {"b", "C", "a", "B"}, {"a", "b", "B", "C"}},
        {Flags::slCaseSensitive, {"b", "C", "a", "B"}, {"B", "C", "a", "b"}},
        {0, {"x"}, {"x"}},
        {0, {}, {}},
        {0, {"\xE4", "z", "a"}, {"a", "z", "\xE4"}},  // bytes compare unsigned
    };
    for (const auto& c : cases) {
        TStringListEx list(c.flags);
        for (const auto& s : c.input) list.AddObject(s, reinterpret_cast<TObject*>(static_cast<uintptr_t>(s[0])));
        list.Sort();
        auto lines = Strings(list);
        // The case-insensitive order keeps "b" and "B" together in either order.
        if (!(c.flags & Flags::slCaseSensitive) && lines.size() == 4) {
            EXPECT_EQ(0, CompareStrNoCase(lines[1], lines[2]));
            std::swap(lines[1], lines[2]);
            if (lines != c.sorted) std::swap(lines[1], lines[2]);
        }
        EXPECT_EQ(c.sorted, lines);
        for (int32_t i = 0; i < list.Count(); ++i)  // objects travel with their strings
            EXPECT_EQ(reinterpret_cast<TObject*>(static_cast<uintptr_t>(list[i][0])), list.GetObject(i));
    }

    std::mt19937 random(7);
    TStringListEx big(Flags::slCaseSensitive);
    Lines expected;
    for (int i = 0; i < 2000; ++i) {
        std::string s = std::to_string(random() % 300);  // many equal strings
        big.Add(s);
        expected.push_back(s);
    }
    big.CustomSort([](TStringListEx& list, int32_t a, int32_t b) {
        return static_cast<int>(list[b].size()) - static_cast<int>(list[a].size());  // longest first
    });
    for (int32_t i = 1; i < big.Count(); ++i) ASSERT_GE(big[i - 1].size(), big[i].size());
    auto lines = Strings(big);
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, lines);

    TStringListEx sorted(Flags::slSorted);
    Fill(sorted, {"a", "b", "c"});
    sorted.CustomSort([](TStringListEx&, int32_t a, int32_t b) { return b - a; });
    EXPECT_EQ((Lines{"a", "b", "c"}), Strings(sorted));
}

TEST(StringListEx, SurroundItems) {
    struct Case { uint32_t flags; Lines input; const char* prefix; const char* suffix; Lines result; };
    const Case cases[] = {
        {0, {"a", "", "c"}, "<", ">", {"<a>", "<>", "<c>"}},
        {0, {"a"}, "", "", {"a"}},
        {0, {"a"}, "", "!", {"a!"}},
        {Flags::slSorted, {"a", "ab"}, "", "z", {"abz", "az"}},  // a suffix can reorder a sorted list
    };
    for (const auto& c : cases) {
        TStringListEx list(c.flags);
        Fill(list, c.input);
        list.SurroundItems(c.prefix, c.suffix);
        EXPECT_EQ(c.result, Strings(list)) << c.prefix << c.suffix;
        if (list.Sorted()) {
            EXPECT_EQ(0, list.IndexOf("abz"));
        }
    }
}

TEST(StringListEx, SameStrings) {
    struct Case { const char* what; Entries other; bool same; };
    const Case cases[] = {
        {"equal", {{"a", A1}, {"b", nullptr}}, true},
        {"case differs", {{"A", A1}, {"b", nullptr}}, false},
        {"object differs", {{"a", A2}, {"b", nullptr}}, false},
        {"shorter", {{"a", A1}}, false},
        {"longer", {{"a", A1}, {"b", nullptr}, {"c", nullptr}}, false},
    };
    TStringListEx list;
    list.AddObject("a", A1);
    list.Add("b");
    for (const auto& c : cases) {
        TStringListEx other(Flags::slCaseSensitive);
        for (const auto& e : c.other) other.AddObject(e.s, e.o);
        EXPECT_EQ(c.same, list.SameStrings(other)) << c.what;
    }
}

TEST(StringListEx, IndentText) {
    struct Case { std::string text; int32_t indent; const char* prefix; const char* suffix; std::string result; };
    const Case cases[] = {
        {"one\r\ntwo", 2, ">", "", ">  one\r\n>  two\r\n"},
        {"one\ntwo\r", 0, "", "", "one\ntwo\r"},  // nothing to add: unchanged
        {"one\rtwo\n", 0, "", ";", "one;\r\ntwo;\r\n"},
        {"a\n\nb", 1, "", "", " a\r\n \r\n b\r\n"},
        {"", 4, "#", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, IndentText(c.text, c.indent, c.prefix, c.suffix)) << testing::PrintToString(c.text);
}

// Records the update-state changes of the bracket.
class TRecordingList : public TStringListEx {
public:
    std::vector<bool> States;

protected:
    void SetUpdateState(bool updating) override { States.push_back(updating); }
};

TEST(StringListEx, UpdateBracket) {
    TRecordingList list;
    list.BeginUpdate();
    list.SetText("a\r\nb\r\n");  // nested bracket: no state change of its own
    list.EndUpdate();
    EXPECT_EQ((std::vector<bool>{true, false}), list.States);

    list.States.clear();
    list.SetText("c");
    EXPECT_EQ((std::vector<bool>{true, false}), list.States);
    EXPECT_THROW(list.EndUpdate(), EAssertionFailed);
}

}  // namespace
}  // namespace cm
