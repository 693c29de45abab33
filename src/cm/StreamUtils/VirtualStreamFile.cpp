// Saving a virtual stream to a file: the Win32 part of the virtual stream.
#include "cm/StreamUtils/VirtualStreamFile.h"

#include "cm/StreamUtils/FileStream.h"

namespace cm {

void SaveVirtualStreamToFile(TVirtualStream& stream, const std::string& fileName, uint16_t fileFlags,
                             int64_t lastWriteTime) {
    TFileStreamEx file(fileName, fmCreate, fileFlags, 0);
    file.WriteBuffer(stream.Memory(), stream.Size());
    // Set after the last write: writing through the handle would move the time again.
    if (lastWriteTime != 0) file.SetLastWriteTime(lastWriteTime);
}

}  // namespace cm
