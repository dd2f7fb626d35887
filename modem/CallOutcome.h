#pragma once

#include <QString>

// How a call the desk made through a modem ended.
struct CallOutcome {
    enum class Result {
        Answered,   // picked up (by a person or a voicemail), hung up 10 s later
        NoAnswer,   // rang for 30 s, or the network said "NO ANSWER"
        Busy,       // "BUSY"
        Failed,     // anything else; `reason` says what
        CannotCall, // the route makes no calls (no voice, or a gateway)
    };
    Result result = Result::Failed;
    QString reason; // for Failed and CannotCall, in words for the page log
};
