#pragma once
// The periods of Quenrik's loops and waits, in one place, with the system's values as
// defaults. The daemon takes them once at start from fromEnvironment(): the environment
// variable QUENRIK_TIME_SCALE, when set to a number above 0 and at most 1, multiplies every
// period below (so 0.1 makes a polling pass 100 ms); unset, empty or anything else leaves the
// real periods. It is the one seam that lets the end-to-end tests run in seconds; a card in
// the field never sets it. Counts (optics every 32 passes, recheck every 15, three tries per
// request, three pings) are not periods and never change. A plain value; copy it freely.

#include <chrono>

struct Periods {
    using ms = std::chrono::milliseconds;

    ms pass{1000};           // pause after every main-loop pass, and the wait for the transport
    ms configWait{5000};     // wait (holding the slot lock) after asking Halvorn for the configuration
    ms pingCycle{10000};     // between two reachability checks of a slot
    ms pingStagger{1000};    // times the slot number: first check of slot s after s of these
    ms response{5000};       // one try of a TK request waiting for its reply
    ms tolerantPause{1000};  // pause after a reply whose result code is tolerated (not 0)
    ms socketReopen{1000};   // before the OLT socket is opened (and re-opened after a failure)
    ms notifierRetry{1000};  // between two connection attempts of the notifier

    static constexpr const char* kScaleVariable = "QUENRIK_TIME_SCALE";

    // Every period times factor, at least 1 ms each. factor must lie in (0, 1].
    static Periods scaled(double factor);
    // The real periods, or scaled ones when QUENRIK_TIME_SCALE holds a valid factor; a value
    // that is not one is printed and ignored.
    static Periods fromEnvironment();
    // The factor a text gives: a number above 0 and at most 1 with nothing after it, else 0.
    static double parseScale(const char* text);
};
