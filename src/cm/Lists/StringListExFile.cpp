// The string list's file round trip: the stream form through a file stream.
#include "cm/Lists/StringListExFile.h"
#include "cm/StreamUtils/FileStream.h"

namespace cm {

void SaveStringsToFile(const TStrings& strings, const std::string& fileName) {
    TFileStreamEx stream(fileName, fmCreate);
    strings.SaveToStream(stream);
}

void LoadStringsFromFile(TStrings& strings, const std::string& fileName) {
    TFileStreamEx stream(fileName, fmOpenRead | fmShareDenyWrite);
    strings.LoadFromStream(stream);
}

}  // namespace cm
