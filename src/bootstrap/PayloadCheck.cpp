#include "bootstrap/PayloadCheck.h"

#include <cstdint>
#include <string>

#include "bootstrap/PayloadFormat.h"
#include "bootstrap/Resources.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Format.h"

namespace bootstrap {

namespace {

void CheckPayload(HMODULE module) {
    const std::string_view record = ResourceBytes(module, MAKEINTRESOURCEA(ResIntegrity), RT_RCDATA);
    if (record.empty()) return;
    const std::string_view payload = ResourceBytes(module, MAKEINTRESOURCEA(ResPayload), RT_RCDATA);
    switch (CheckIntegrityRecord(record, payload)) {
        case TIntegrity::Match: return;
        case TIntegrity::Mismatch: throw cm::Exception(MsgPackageDamaged);
        case TIntegrity::UnknownVersion:
            throw cm::Exception(cm::Format("Setup package integrity record has an unknown version (%d).",
                                           {static_cast<int>(static_cast<uint8_t>(record[0]))}));
    }
}

int64_t Counter() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

TPayloadCheck::TPayloadCheck(HMODULE module) noexcept : Module(module) {
    try {
        cm::StartMethodThread(Thread, false, [this](cm::TMethodThread&) { Check(); });
    } catch (...) {
        Thread.reset();
    }
}

TPayloadCheck::~TPayloadCheck() {
    // Joined before the other members go: the body writes the result members. (The thread
    // object's end waits for a running body.)
    Thread.reset();
}

void TPayloadCheck::Check() noexcept {
    const int64_t start = Counter();
    try {
        CheckPayload(Module);
    } catch (...) {
        Failure = std::current_exception();
    }
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    Milliseconds = static_cast<double>(Counter() - start) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void TPayloadCheck::Wait() {
    if (!Done) {
        if (Thread) {
            Thread->WaitFor();
            Thread.reset();
        } else {
            Check();
        }
        Done = true;
    }
    if (Failure) std::rethrow_exception(Failure);
}

}  // namespace bootstrap
