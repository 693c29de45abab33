// A program that links the log like the product's programs do and writes what its arguments say.
// The log tests run copies of it from their own directories, each with its own Logs directory.
//   write <n> <tag>      n entries (not forced); forced <n> <tag> the same with LogForced
//   filler <size>        length of the middle line of later entries (default 40)
//   warn <text>          LogWarning; warntrace <text> LogWarningWithTrace
//   title <text> <fill>  LogTitled, forced
//   ids <tag>            forced "IDS <tag> " + LogProcessIds()
//   name <text>          registers the current thread under the name
//   fakenames <n>        registers n names for thread ids that do not exist
//   slice <ms>           shortens the deadlock-warning slice of waits
//   go <event>           waits until the named event is set
//   signal <event>       sets the named event (the next command is about to run)
//   hold <event>         takes the log mutex, sets the named event and sleeps for ever
//   close                LogClose
//   lasterror            a forced entry written with the last error set to 4321: exit code 5
//                        unless the write left it so
//   closewhilewaiting    a second thread writes a forced entry (and waits for a held mutex);
//                        LogClose meanwhile: exit code 6 unless it returned within 3 seconds
// A first argument "ve" loads __Tavrel_VE__.dll (from the program's directory) before start-up.
// An entry is "BEGIN <tag> <pid> <i>" CR LF filler CR LF "END <tag> <pid> <i>".
#include <cstdlib>
#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/Sync.h"
#include "cm/Packets/Packets.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"

namespace {

std::string Entry(const std::string& tag, int index, size_t filler) {
    const std::string id = tag + " " + std::to_string(GetCurrentProcessId()) + " " + std::to_string(index);
    return "BEGIN " + id + "\r\n" + std::string(filler, 'x') + "\r\nEND " + id;
}

HANDLE NamedEvent(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

DWORD WINAPI WaitingWriter(void*) {
    cm::LogWrite("WAITING WRITER", cm::LogForced);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    cm::InitializePackets();
    cm::InitializeProductInformation();
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "ve") {
        if (LoadLibraryA("__Tavrel_VE__.dll") == nullptr) return 3;
        first = 2;
    }
    cm::InitializeLogs(&cm::ProductCaptionBesideExecutable);
    size_t filler = 40;
    for (int i = first; i < argc; ++i) {
        const std::string command = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (command == "write" || command == "forced") {
            const int count = std::atoi(next().c_str());
            const std::string tag = next();
            for (int n = 0; n < count; ++n)
                cm::LogWrite(Entry(tag, n, filler), command == "forced" ? cm::TLogOptions{cm::LogForced} : cm::TLogOptions{0});
        } else if (command == "filler") {
            filler = static_cast<size_t>(std::atoi(next().c_str()));
        } else if (command == "warn") {
            cm::LogWarning(next());
        } else if (command == "warntrace") {
            cm::LogWarningWithTrace(next());
        } else if (command == "title") {
            const std::string text = next();
            cm::LogTitled(text, next()[0], cm::LogForced);
        } else if (command == "ids") {
            cm::LogWrite("IDS " + next() + " " + cm::LogProcessIds(), cm::LogForced);
        } else if (command == "name") {
            cm::RegisterThreadName(GetCurrentThreadId(), next());
        } else if (command == "fakenames") {
            const int count = std::atoi(next().c_str());
            for (int n = 0; n < count; ++n) cm::RegisterThreadName(0xFFFF0000u + n, "fake");
        } else if (command == "slice") {
            cm::SetDeadlockWarningSlice(static_cast<uint32_t>(std::atoi(next().c_str())));
        } else if (command == "go") {
            cm::UniqueHandle event(NamedEvent(next()));
            WaitForSingleObject(event.get(), INFINITE);
        } else if (command == "signal") {
            cm::UniqueHandle event(NamedEvent(next()));
            SetEvent(event.get());
        } else if (command == "hold") {
            const std::string mutexName =
                "Tavrel_LogMutex_" + cm::LowerCaseAscii(cm::ExtractBaseName(cm::LogFilePath()));
            HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName.c_str());
            WaitForSingleObject(mutex, INFINITE);
            SetEvent(NamedEvent(next()));
            Sleep(INFINITE);
        } else if (command == "close") {
            cm::LogClose();
        } else if (command == "lasterror") {
            SetLastError(4321);
            cm::LogWrite("LASTERROR", cm::LogForced);
            if (GetLastError() != 4321) return 5;
        } else if (command == "closewhilewaiting") {
            HANDLE writer = CreateThread(nullptr, 0, &WaitingWriter, nullptr, 0, nullptr);
            Sleep(500);
            const DWORD started = GetTickCount();
            cm::LogClose();
            if (GetTickCount() - started > 3000) return 6;
            WaitForSingleObject(writer, 5000);
        } else {
            return 2;
        }
    }
    cm::FinalizeLogs();
    return 0;
}
