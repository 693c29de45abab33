// The string list's file round trip: the stream form through a file stream. Win32 only.
#pragma once

#include <string>

#include "cm/Lists/StringListEx.h"

namespace cm {

// Save creates the file anew; load opens it for reading, others may read. Raise the file
// stream's errors.
void SaveStringsToFile(const TStrings& strings, const std::string& fileName);
void LoadStringsFromFile(TStrings& strings, const std::string& fileName);

}  // namespace cm
