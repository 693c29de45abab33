// Another process of the product for the remote-control tests:
//   remote_control_peer markers APP    exit code 10 + 1 (session marker existed) + 2 (global
//                                      marker existed) + 4 (initialisation failed)
//   remote_control_peer names FILE     writes the names of its own objects (default application
//                                      name) to FILE, one a line; exit code 0
//   remote_control_peer serve APP      runs the main thread's message loop until signal 1 ends it
//                                      (exit code 0) or 30 s pass (exit code 3)
//   remote_control_peer modules -      starts and ends the program's modules in their order with
//                                      one High notification left undelivered on the main
//                                      thread's queue (its report goes to this program's log);
//                                      exit code 0
#include <cstdio>
#include <cstring>
#include <string>

#include "bootstrap/AppRemoteControl.h"
#include "bootstrap/ProgramModules.h"
#include "cm/ThreadPool/MessageLoop.h"
#include "cm/NotifyQueue/NotifyQueue.h"

namespace {

constexpr UINT_PTR GiveUpTimerId = 77;
constexpr UINT GiveUpMs = 30000;
bool gGaveUp = false;

void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
    gGaveUp = true;
    ::PostQuitMessage(0);
}

class TPeerReceiver : public cm::TObject {
public:
    void Take(cm::TNotifyItem&) {}
};
class TUndeliveredArgument : public cm::TObject {};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: remote_control_peer markers|names|serve ARG\n");
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "modules") {
        TPeerReceiver receiver;
        TUndeliveredArgument argument;
        cm::TModuleRunner modules(bootstrap::ProgramModules());
        cm::PostNotification(cm::CurrentNotifyQueue(), cm::NotifyHigh, &receiver,
                             cm::NotifyMethod<&TPeerReceiver::Take>(&receiver), &argument);
        return 0;
    }
    cm::TNotifyQueue queue;
    cm::AttachThread(queue);
    cm::SetMode(queue, cm::NotifyWindowMode);
    if (mode == "markers") {
        bootstrap::TAppRemoteControl control(argv[2]);
        return 10 + (control.AlreadyExisted[0] ? 1 : 0) + (control.AlreadyExisted[1] ? 2 : 0) +
               (control.InitializationFailed ? 4 : 0);
    }
    if (mode == "names") {
        bootstrap::TAppRemoteControl control("");
        FILE* out = std::fopen(argv[2], "w");
        if (!out) return 2;
        for (const auto& name : control.Names.Mutexes) std::fprintf(out, "%s\n", name.c_str());
        for (int k = 1; k < bootstrap::RemoteEventCount; ++k) std::fprintf(out, "%s\n", control.Names.Events[k].c_str());
        std::fclose(out);
        return control.InitializationFailed ? 1 : 0;
    }
    if (mode == "serve") {
        bootstrap::TAppRemoteControl control(argv[2]);
        if (control.InitializationFailed) return 1;
        ::SetTimer(nullptr, GiveUpTimerId, GiveUpMs, &GiveUp);
        cm::MessageLoop(0);
        return gGaveUp ? 3 : 0;
    }
    return 2;
}
