// The event sink interface beside the text log, and the process-wide default sink.
// Needs no operating system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "cm/Objects/Object.h"

namespace cm {

// One argument of an event template: a text for "<text>" and "<str>", a number for "<dw>".
using TEventValue = std::variant<std::string, uint32_t>;
using TEventArgs = std::vector<TEventValue>;

// Event number that stands for the sink's (or view's) default event number.
constexpr int32_t DefaultEventNumberValue = -1;

class TEventLogView;

// A sink that accepts every call and records nothing; a host program that wants real event
// reporting supplies a descendant. Free sinks through FreeEventLog: a Permanent sink must not
// be freed.
class TEventLog : public TObject {
public:
    TEventLog() = default;
    TEventLog(const TEventLog&) = delete;
    TEventLog& operator=(const TEventLog&) = delete;
    // Clears the exception sink reference when it names this sink.
    ~TEventLog() override;

    // Writes one event from a template ("<text>", "<str>", "<dw>" placeholders) and one value
    // per placeholder. eventNumber -1 = the default event number.
    virtual void WriteEvent(const std::string& format, const TEventArgs& args, int32_t eventNumber,
                            int32_t kind, int32_t extraValue);
    // Returns the event number registered for the source; -1 in the base sink.
    virtual int32_t RegisterSource(int32_t value, const std::string& name, int32_t eventNumber);
    // Returns a new view bound to this sink, owned by the caller. Raises
    // "Cannot create views for inactive event log" when the sink is not Active.
    virtual std::unique_ptr<TEventLogView> CreateView(int32_t value, const std::string& name, int32_t eventNumber);
    virtual void Flush();
    virtual int32_t DefaultEventNumber();
    virtual void Reserved();

    bool Permanent = false;
    TGuid SourceId{};
    int32_t SourceValue = 0;
    bool Active = false;
};

// A sink bound to one event source: replaces event number -1 by its DefaultNumber and passes
// every call to Log, which must outlive it.
class TEventLogView : public TEventLog {
public:
    // Preconditions (assertions of cm/EventLog): log is given, defaultNumber > 0.
    TEventLogView(TEventLog* log, const std::string& name, int32_t defaultNumber);

    void WriteEvent(const std::string& format, const TEventArgs& args, int32_t eventNumber,
                    int32_t kind, int32_t extraValue) override;
    int32_t RegisterSource(int32_t value, const std::string& name, int32_t eventNumber) override;
    // A further view of the same sink.
    std::unique_ptr<TEventLogView> CreateView(int32_t value, const std::string& name, int32_t eventNumber) override;
    void Flush() override;
    int32_t DefaultEventNumber() override;

    TEventLog* Log;
    int32_t DefaultNumber;
    std::string Name;

private:
    int32_t Resolve(int32_t eventNumber) const { return eventNumber == DefaultEventNumberValue ? DefaultNumber : eventNumber; }
};

// The process-wide default sink: made on first call (Permanent), never freed. Thread-safe.
TEventLog& DefaultEventLog();

// The sink the exception watch writes its reports to; null unless the host program registers one.
TEventLog* ExceptionEventLog();
void SetExceptionEventLog(TEventLog* log);

// Frees the sink and clears the reference. Raises "Attempt to free a permanent event log object"
// for a Permanent sink (which then stays alive). A null reference does nothing.
void FreeEventLog(TEventLog*& log);

// With splitLines: WriteText once per line of text (CR, LF or CR LF ends a line) without
// splitting. Otherwise WriteEvent(prefix + "<text>", [text], eventNumber, kind, 0).
void WriteText(TEventLog& log, const std::string& text, bool splitLines, int32_t eventNumber,
               const std::string& prefix, int32_t kind);

}  // namespace cm
