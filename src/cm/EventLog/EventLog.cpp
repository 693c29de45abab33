#include "cm/EventLog/EventLog.h"

#include <atomic>

#include "cm/Objects/Errors.h"

namespace cm {

namespace {

constexpr const char* EventLogUnit = "cm/EventLog";

std::atomic<TEventLog*> ExceptionSink{nullptr};

// Lines as the string-list text form sees them: CR, LF or CR LF end a line; a final line end
// does not start another (empty) line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text, start, i - start);
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text, start, text.size() - start);
    return lines;
}

}  // namespace

TEventLog::~TEventLog() {
    TEventLog* self = this;
    ExceptionSink.compare_exchange_strong(self, nullptr);
}

void TEventLog::WriteEvent(const std::string&, const TEventArgs&, int32_t, int32_t, int32_t) {}

int32_t TEventLog::RegisterSource(int32_t, const std::string&, int32_t) { return -1; }

std::unique_ptr<TEventLogView> TEventLog::CreateView(int32_t value, const std::string& name, int32_t eventNumber) {
    if (!Active) throw Exception("Cannot create views for inactive event log");
    return std::make_unique<TEventLogView>(this, name, RegisterSource(value, name, eventNumber));
}

void TEventLog::Flush() {}

int32_t TEventLog::DefaultEventNumber() { return -1; }

void TEventLog::Reserved() {}

TEventLogView::TEventLogView(TEventLog* log, const std::string& name, int32_t defaultNumber)
    : Log(log), DefaultNumber(defaultNumber), Name(name) {
    CM_ASSERT(EventLogUnit, log != nullptr);
    CM_ASSERT(EventLogUnit, defaultNumber > 0);
    SourceId = log->SourceId;
    SourceValue = log->SourceValue;
    Active = true;
}

void TEventLogView::WriteEvent(const std::string& format, const TEventArgs& args, int32_t eventNumber,
                               int32_t kind, int32_t extraValue) {
    Log->WriteEvent(format, args, Resolve(eventNumber), kind, extraValue);
}

int32_t TEventLogView::RegisterSource(int32_t value, const std::string& name, int32_t eventNumber) {
    return Log->RegisterSource(value, name, Resolve(eventNumber));
}

std::unique_ptr<TEventLogView> TEventLogView::CreateView(int32_t value, const std::string& name, int32_t eventNumber) {
    return Log->CreateView(value, name, Resolve(eventNumber));
}

void TEventLogView::Flush() { Log->Flush(); }

int32_t TEventLogView::DefaultEventNumber() { return DefaultNumber; }

TEventLog& DefaultEventLog() {
    // A function-local object made once (thread-safe in C++) and deliberately never destroyed:
    // other modules may still write to it while the process shuts down.
    static TEventLog* const sink = [] {
        auto* log = new TEventLog;
        log->Permanent = true;
        return log;
    }();
    return *sink;
}

TEventLog* ExceptionEventLog() { return ExceptionSink.load(); }

void SetExceptionEventLog(TEventLog* log) { ExceptionSink.store(log); }

void FreeEventLog(TEventLog*& log) {
    if (!log) return;
    if (log->Permanent) throw Exception("Attempt to free a permanent event log object");
    delete log;
    log = nullptr;
}

void WriteText(TEventLog& log, const std::string& text, bool splitLines, int32_t eventNumber,
               const std::string& prefix, int32_t kind) {
    if (splitLines) {
        for (const std::string& line : SplitLines(text)) WriteText(log, line, false, eventNumber, prefix, kind);
        return;
    }
    log.WriteEvent(prefix + "<text>", TEventArgs{text}, eventNumber, kind, 0);
}

}  // namespace cm
