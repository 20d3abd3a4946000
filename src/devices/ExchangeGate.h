#pragma once
// The bar on this process's instrument exchanges once the guardian has taken the instruments over.
//
// The guardian (moirex-guard) watches the controlling process through a socket; when it finds the
// controller frozen it writes "T" on that socket before it touches any instrument. A controller
// that wakes up must not command the instruments again: every exchange of the process looks at
// the socket first (a poll and a one-byte peek, no wait) and is refused, with nothing sent, from
// the moment that byte is there. The end of the socket (a guardian that simply ended) bars nothing.
//
// Only the process that runs the instruments opens the gate; other programs never bar anything.

#include <string>

namespace moirex {

// Status of an exchange refused because the guardian has taken the instruments over.
inline constexpr const char* kStatusGuardianTookOver = "Instruments taken over by the guardian: nothing sent";

// The controller's end of its guardian's socket (-1: no guardian, nothing barred). Setting a new
// one lifts an earlier bar.
void SetExchangeGateSocket(int fd);
// Bars every exchange from now on (the controller has read the guardian's "T" itself).
void BarExchanges();
// True from the moment the guardian has said that it takes over (it stays true until
// SetExchangeGateSocket is called again).
bool ExchangesBarred();

}  // namespace moirex
