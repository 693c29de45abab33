// The string list's file round trip: the stream form through a file stream.
#include "cm/Lists/StringListEx.h"
#include "cm/StreamUtils/FileStream.h"

namespace cm {

void TStrings::SaveToFile(const std::string& fileName) const {
    TFileStreamEx stream(fileName, fmCreate);
    SaveToStream(stream);
}

void TStrings::LoadFromFile(const std::string& fileName) {
    TFileStreamEx stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

}  // namespace cm
