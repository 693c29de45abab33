// TVirtualStream::SaveToFile: the Win32 part of the virtual stream.
#include "cm/StreamUtils/FileStream.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm {

void TVirtualStream::SaveToFile(const std::string& fileName, uint16_t fileFlags, int64_t lastWriteTime) {
    TFileStreamEx file(fileName, fmCreate, fileFlags, 0);
    file.WriteBuffer(FMemory, FSize);
    // Set after the last write: writing through the handle would move the time again.
    if (lastWriteTime != 0) file.SetLastWriteTime(lastWriteTime);
}

}  // namespace cm
