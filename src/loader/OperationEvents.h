// OperationEvents: what a connection or an operation tells while it runs, as typed values.
//
//   sequences (connect, send, verify, start/stop, dumps) -> TOperationEvent -> TEventSink
//   -> each front end renders them as it likes: the window as log lines, bars, icons and the
//      PLC status label; a station's runner as its unit's lines, one progress total and the
//      record so far; a test as a list
//
// The sink is called on the session's own thread, in the order things happen; a front end on
// another thread queues what it needs. Nothing here asks the operator anything: what an
// operation needs from them (a dump's file) is part of its job before it starts.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <variant>

enum class TVerifyCheck { Config, Kernel, Program };
enum class TSendStep { None, Serial, Kernel, Program };

namespace Event {

// One message log line, without its time stamp.
struct TMessage {
    QString Text;
};
// A verify begins: the results of the last one no longer hold.
struct TVerifyBegins {};
struct TVerifyResult {
    TVerifyCheck Check;
    bool Passed;
};
// The PLC's status in words; empty when it could not be read.
struct TPlcStatus {
    QString Text;
};
// The bytes of the transfer under way (Current of CurrentMaximum) and of the whole operation
// (Done of Total).
struct TProgress {
    int Current;
    int CurrentMaximum;
    int Done;
    int Total;
};
// A step of a send begins: the unit may now hold part of what it writes.
struct TSendStepBegins {
    TSendStep Step;
};
// A counter that several units share gave this number to the unit about to receive it.
struct TSerialTaken {
    int32_t Number;
};
// After a send that advanced the serial number by itself: the next one to give.
struct TSerialAdvanced {
    int32_t Next;
};
// A file could not be read or written: beyond its log line, the operator must see it.
struct TFileError {
    QString Text;
};
// The unit changed under the last connection (a send ended): what it showed of itself no
// longer holds until the next connection.
struct TUnitChanged {};

}   // namespace Event

using TOperationEvent = std::variant<Event::TMessage, Event::TVerifyBegins, Event::TVerifyResult, Event::TPlcStatus,
                                     Event::TProgress, Event::TSendStepBegins, Event::TSerialTaken,
                                     Event::TSerialAdvanced, Event::TFileError, Event::TUnitChanged>;

using TEventSink = std::function<void(const TOperationEvent& event)>;

// For std::visit over the events a front end renders: one lambda per event it takes, and
// one taking `const auto&` for those it lets pass.
template <class... Handlers>
struct TEventHandlers : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
TEventHandlers(Handlers...) -> TEventHandlers<Handlers...>;
