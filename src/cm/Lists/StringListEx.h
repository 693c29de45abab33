// The string-list base (indexed strings, each with an attached object; text and stream round
// trips; update bracket) and TStringListEx, the string list of cm/Lists with its own storage,
// sorting, searching and mapped merge. Portable: no operating system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cm/Objects/Object.h"
#include "cm/Objects/Errors.h"
#include "cm/StreamUtils/Stream.h"

namespace cm {

// Raised by the string lists for index errors and refused operations. The message begins with
// the list's class name and ": ".
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// The string-list base. Lines of its text form each end with CR LF; reading a text splits it on
// CR, LF or CR LF, and a last line without a line end is a line too.
class TStrings {
public:
    TStrings() = default;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;
    virtual ~TStrings() = default;

    virtual const char* ClassName() const { return "TStrings"; }

    virtual int32_t Count() const = 0;
    // Index errors raise EStringListError "List index out of bounds (%d)".
    virtual const std::string& Get(int32_t index) const = 0;
    virtual void Put(int32_t index, const std::string& s) = 0;
    virtual TObject* GetObject(int32_t index) const = 0;
    virtual void PutObject(int32_t index, TObject* object) = 0;
    // 0 <= index <= Count.
    virtual void InsertObject(int32_t index, const std::string& s, TObject* object) = 0;
    virtual void Delete(int32_t index) = 0;
    virtual void Clear() = 0;

    void Insert(int32_t index, const std::string& s) { InsertObject(index, s, nullptr); }
    int32_t Add(const std::string& s) { return AddObject(s, nullptr); }
    // Returns the index the string got (the base appends).
    virtual int32_t AddObject(const std::string& s, TObject* object);
    virtual void Exchange(int32_t index1, int32_t index2) = 0;
    // The index of the first string equal to s, or -1. The base compares ASCII case-insensitively.
    virtual int32_t IndexOf(std::string_view s) const;
    int32_t IndexOfObject(const TObject* object) const;
    // Adds every string of source with its object, inside one update bracket.
    virtual void AddStrings(const TStrings& source);
    // Clear, then AddStrings.
    void Assign(const TStrings& source);

    const std::string& operator[](int32_t index) const { return Get(index); }

    // Every line followed by CR LF.
    std::string Text() const;
    // Clears the list and adds the lines of text (through AddObject), inside one update bracket.
    void SetText(std::string_view text);

    // Writes Text at the stream's position; raises EStreamError "Stream write error".
    void SaveToStream(TStream& stream) const;
    // Replaces the list by the text from the stream's position to its end.
    void LoadFromStream(TStream& stream);

    // The update bracket: SetUpdateState(true) on the first BeginUpdate, SetUpdateState(false) on
    // the matching last EndUpdate. An EndUpdate without BeginUpdate is an assertion.
    void BeginUpdate();
    void EndUpdate();
    int32_t UpdateCount() const { return FUpdateCount; }

protected:
    virtual void SetUpdateState(bool /*updating*/) {}
    // Raises EStringListError with the class name, ": " and the message.
    [[noreturn]] void Error(std::string_view message) const;
    [[noreturn]] void IndexError(int32_t index) const;

private:
    int32_t FUpdateCount = 0;
};

// Splits text into lines on CR, LF or CR LF; a last line without a line end is kept.
std::vector<std::string> SplitTextLines(std::string_view text);

// Orderings and equality of TStringListEx: bytes compared unsigned; the case-insensitive forms
// fold ASCII letters only. Negative, zero or positive.
int CompareStrCase(std::string_view a, std::string_view b);
int CompareStrNoCase(std::string_view a, std::string_view b);

class TStringListEx;
// CustomSort ordering of the strings at two indices: negative, zero, positive.
using TStringListSortCompare = std::function<int(TStringListEx& list, int32_t index1, int32_t index2)>;
// AddStringsMapped's transformation of each added object.
using TStringListMapObject = TObject* (*)(void* context, TObject* object);

class TStringListEx : public TStrings {
public:
    // Creation flags.
    static constexpr uint32_t slCaseSensitive = 0x01;
    static constexpr uint32_t slSorted = 0x02;
    static constexpr uint32_t slDupError = 0x04;
    static constexpr uint32_t slDupAccept = 0x08;
    static constexpr uint32_t slDupIgnore = 0x10;  // wins over slDupError and slDupAccept
    static constexpr uint32_t slOwnsObjects = 0x20;

    enum TDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

    struct TStringItem {
        std::string String;
        TObject* Object = nullptr;
    };

    // Flags 0: unsorted, case-insensitive, duplicates ignored, objects not owned.
    explicit TStringListEx(uint32_t flags = 0);
    // Frees the objects when it owns them.
    ~TStringListEx() override;

    const char* ClassName() const override { return "TStringListEx"; }

    bool Sorted() const { return FSorted; }
    TDuplicates Duplicates() const { return FDuplicates; }
    bool CaseSensitive() const { return FCaseSensitive; }
    bool OwnsObjects() const { return FOwnsObjects; }

    int32_t Count() const override { return static_cast<int32_t>(FItems.size()); }
    int32_t Capacity() const { return FCapacity; }
    // Sets the capacity to exactly capacity; below Count raises "List capacity out of bounds (%d)".
    void SetCapacity(int32_t capacity);
    // Room for n strings: when the capacity is below n it becomes the smallest power of two >= n,
    // starting from 16.
    void ReserveRoom(int32_t n);

    const std::string& Get(int32_t index) const override;
    // Refused on sorted lists ("Operation not allowed on sorted string list"); keeps the object.
    void Put(int32_t index, const std::string& s) override;
    TObject* GetObject(int32_t index) const override;
    // With OwnsObjects the object replaced is freed (unless it is the new one).
    void PutObject(int32_t index, TObject* object) override;
    // Refused on sorted lists.
    void InsertObject(int32_t index, const std::string& s, TObject* object) override;
    // With OwnsObjects the object dropped is freed. Deleting the last string releases the storage.
    void Delete(int32_t index) override;
    void Clear() override;
    // Sorted: the place Find gives; a present string returns its index (duplicates ignored) or
    // raises "String list does not allow duplicates" (duplicates an error). Unsorted: appends.
    int32_t AddObject(const std::string& s, TObject* object) override;
    // Refused on sorted lists (an exchange would break their order).
    void Exchange(int32_t index1, int32_t index2) override;
    // Sorted: Find. Unsorted: the first equal string by CaseSensitive.
    int32_t IndexOf(std::string_view s) const override;
    void AddStrings(const TStrings& source) override { AddStringsMapped(source, nullptr, nullptr); }

    // Adds source's strings with their objects passed through mapObject (unchanged when none),
    // inside one update bracket. A sorted list and a sorted TStringListEx source of the same case
    // sensitivity are merged; otherwise the strings are added one by one. With duplicates an
    // error, a string that would be doubled raises before the list changes. Source must not be
    // this list (assertion).
    virtual void AddStringsMapped(const TStrings& source, TStringListMapObject mapObject, void* context);
    // Bisection for sorted lists: true when s is present; index is its place (with duplicates
    // accepted the first of the equal strings), or where s would be inserted.
    virtual bool Find(std::string_view s, int32_t& index) const;
    // Sorts an unsorted list by the list's ordering; sorted lists are left as they are.
    virtual void Sort();
    // Quicksort by compare (middle element as pivot, exchanging pairs); sorted lists ignore it.
    virtual void CustomSort(const TStringListSortCompare& compare);

    // Every string becomes prefix + string + suffix; nothing when both are empty. A sorted list
    // is put back in order (a suffix can change the order of two strings).
    void SurroundItems(std::string_view prefix, std::string_view suffix);
    // Same count, and pairwise the strings equal case-sensitively and the objects the same.
    bool SameStrings(const TStrings& other) const;

    // The list's own ordering (CaseSensitive decides).
    int CompareStrings(std::string_view a, std::string_view b) const;

private:
    void CheckIndex(int32_t index) const;
    void Grow();
    void InsertItem(int32_t index, std::string s, TObject* object);
    void FreeObject(TObject* object);
    void CheckNoDuplicatesAfterAdding(const TStrings& source) const;
    void MergeSorted(const TStringListEx& source, TStringListMapObject mapObject, void* context);
    void QuickSort(int32_t l, int32_t r, const TStringListSortCompare& compare);

    std::vector<TStringItem> FItems;
    int32_t FCapacity = 0;
    bool FSorted;
    TDuplicates FDuplicates;
    bool FCaseSensitive;
    bool FOwnsObjects;
};

// Text unchanged when indent is 0 and prefix and suffix are empty; otherwise every line of text
// becomes prefix, indent blanks, the line, suffix, joined by the string-list text form (so the
// result ends with CR LF).
std::string IndentText(std::string_view text, int32_t indent, std::string_view prefix, std::string_view suffix);

}  // namespace cm
