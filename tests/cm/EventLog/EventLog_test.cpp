#include "cm/EventLog/EventLog.h"

#include <gtest/gtest.h>

#include "support/MessageOf.h"

namespace cm {
namespace {

using test::MessageOf;

struct RecordedEvent {
    std::string Format;
    TEventArgs Args;
    int32_t EventNumber;
    int32_t Kind;
    int32_t ExtraValue;
};

// An active sink that records what reaches it and registers every source under number 40.
class TRecordingEventLog : public TEventLog {
public:
    TRecordingEventLog() {
        Active = true;
        SourceValue = 77;
        SourceId.D1 = 0x12345678;
    }
    void WriteEvent(const std::string& format, const TEventArgs& args, int32_t eventNumber, int32_t kind,
                    int32_t extraValue) override {
        Events.push_back({format, args, eventNumber, kind, extraValue});
    }
    int32_t RegisterSource(int32_t, const std::string& name, int32_t eventNumber) override {
        Registered.push_back({name, eventNumber});
        return RegisterResult;
    }
    void Flush() override { ++Flushes; }

    std::vector<RecordedEvent> Events;
    std::vector<std::pair<std::string, int32_t>> Registered;
    int32_t RegisterResult = 40;
    int Flushes = 0;
};

TEST(DefaultEventLog, IsOnePermanentInactiveSinkThatCannotBeFreed) {
    TEventLog& first = DefaultEventLog();
    EXPECT_EQ(&first, &DefaultEventLog());
    EXPECT_TRUE(first.Permanent);
    EXPECT_FALSE(first.Active);

    TEventLog* ref = &first;
    EXPECT_EQ(MessageOf([&] { FreeEventLog(ref); }), "Attempt to free a permanent event log object");
    EXPECT_EQ(ref, &first);
    EXPECT_EQ(MessageOf([&] { first.CreateView(0, "Source", -1); }), "Cannot create views for inactive event log");
    // The base sink accepts every call and has no event numbers.
    first.WriteEvent("Handling message <dw>", {uint32_t{0x12}}, -1, 3, 0);
    EXPECT_EQ(first.RegisterSource(0, "x", -1), -1);
    EXPECT_EQ(first.DefaultEventNumber(), -1);
}

TEST(WriteText, SplitsIntoOneEventPerLineOnlyWhenAsked) {
    struct Case {
        const char* Name;
        std::string Text;
        bool Split;
        std::vector<std::string> Expected;
    };
    const Case cases[] = {
        {"three lines, mixed ends", "one\r\ntwo\nthree", true, {"one", "two", "three"}},
        {"final line end adds no line", "one\rtwo\r\n", true, {"one", "two"}},
        {"empty line in the middle", "a\r\n\r\nb", true, {"a", "", "b"}},
        {"no split keeps the text whole", "one\r\ntwo", false, {"one\r\ntwo"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordingEventLog sink;
        WriteText(sink, c.Text, c.Split, 9, "Exception: ", 1);
        ASSERT_EQ(sink.Events.size(), c.Expected.size());
        for (size_t i = 0; i < c.Expected.size(); ++i) {
            const RecordedEvent& e = sink.Events[i];
            EXPECT_EQ(e.Format, "Exception: <text>");
            ASSERT_EQ(e.Args.size(), 1u);
            EXPECT_EQ(std::get<std::string>(e.Args[0]), c.Expected[i]);
            EXPECT_EQ(e.EventNumber, 9);
            EXPECT_EQ(e.Kind, 1);
            EXPECT_EQ(e.ExtraValue, 0);
        }
    }
}

TEST(TEventLogView, ReplacesTheDefaultNumberAndPassesCallsToItsSink) {
    TRecordingEventLog sink;
    std::unique_ptr<TEventLogView> view = sink.CreateView(5, "Notify", -1);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->Log, &sink);
    EXPECT_EQ(view->Name, "Notify");
    EXPECT_EQ(view->DefaultNumber, 40);
    EXPECT_EQ(view->DefaultEventNumber(), 40);
    EXPECT_EQ(view->SourceValue, 77);
    EXPECT_EQ(view->SourceId.D1, 0x12345678u);

    view->WriteEvent("Done", {uint32_t{1}}, -1, 4, -1);
    view->WriteEvent("Done", {uint32_t{1}}, 12, 4, -1);
    ASSERT_EQ(sink.Events.size(), 2u);
    EXPECT_EQ(sink.Events[0].EventNumber, 40);
    EXPECT_EQ(sink.Events[1].EventNumber, 12);
    EXPECT_EQ(sink.Events[0].ExtraValue, -1);

    view->Flush();
    EXPECT_EQ(sink.Flushes, 1);

    // A view of a view is a further view of the same sink, registered with the resolved number.
    std::unique_ptr<TEventLogView> nested = view->CreateView(6, "Nested", -1);
    EXPECT_EQ(nested->Log, &sink);
    ASSERT_EQ(sink.Registered.size(), 2u);
    EXPECT_EQ(sink.Registered[1], (std::pair<std::string, int32_t>{"Nested", 40}));
}

TEST(TEventLogView, SinkWithoutEventNumbersCannotHaveViews) {
    TRecordingEventLog sink;
    sink.RegisterResult = -1;
    EXPECT_NE(MessageOf<EAssertionFailed>([&] { sink.CreateView(0, "Source", -1); }).find("cm/EventLog"),
              std::string::npos);
}

TEST(ExceptionEventLog, FreeingTheRegisteredSinkClearsTheReference) {
    TEventLog* sink = new TRecordingEventLog;
    SetExceptionEventLog(sink);
    EXPECT_EQ(ExceptionEventLog(), sink);
    FreeEventLog(sink);
    EXPECT_EQ(sink, nullptr);
    EXPECT_EQ(ExceptionEventLog(), nullptr);
}

}  // namespace
}  // namespace cm
