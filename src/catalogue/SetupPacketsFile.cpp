#include "catalogue/SetupPacketsFile.h"

#include "cm/Packets/PacketFile.h"
#include "cm/StreamUtils/FileStream.h"

namespace cm {

std::unique_ptr<TSetupPacket> LoadSetupPacket(const std::string& fileName, uint32_t flags) {
    return LoadPacketFile<TSetupPacket>(fileName, flags);
}

void LoadDeferredContent(TSetupFilePacket& file, const TDeferredBlobs& places, const std::string& fileName) {
    const TDeferredBlobs::TPlace* place = places.Find(file.Content);
    if (!place)
        return;
    try {
        TFileStreamEx stream(fileName, fmOpenRead | fmShareDenyWrite, 0, 0);
        if (place->Position < 0 || place->Position > stream.Size() - static_cast<int64_t>(place->Length) ||
            stream.Seek(static_cast<int32_t>(place->Position), soBeginning) != place->Position)
            throw EStreamError("Stream read error");
        file.Content.Rewind();
        file.Content.SetSizeExact(place->Length);
        stream.ReadBuffer(file.Content.Memory(), place->Length);
        file.Content.Rewind();
    } catch (...) {
        file.Content.Clear();
        ReraiseWithContextFmt("Failed to read the content of %s from file %s", {file.Filename, fileName});
    }
}

}  // namespace cm
