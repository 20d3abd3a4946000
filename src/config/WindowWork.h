#pragma once
// An operator's action whose instrument or disk work takes longer than the window may wait: the
// window is disabled at once (the disabled look, the busy cursor), the work runs off the main
// thread where `access` says (the window), its lines and messages reach the main thread as they
// come (the work waits for each, so a message box is answered before it goes on), and its end runs
// on the main thread, after which the window is enabled. Nothing clicked or typed meanwhile lands
// later: the disabled window takes none of it. Without a place for the work (moirexctl, tests)
// the same steps run inside the click.

#include <functional>

#include "config/ServiceTools.h"
#include "state/MixerState.h"

namespace moirex {

// Runs a routine on the main thread and returns once it has run (at once on the main thread).
using TOnMainThread = std::function<void(std::function<void()>)>;

// `work` gets how to reach the main thread. Off the main thread, an exception that escapes it is
// shown as the error that ended it and `end` runs then too, and work dropped before it began (the
// window going) runs `end` only; inside the click an exception escapes as from any handler.
// `name` keeps actions of one name one after the other.
void RunWindowWork(TMixer& mixer, const TPumpToolAccess& access, const char* name,
                   std::function<void(const TOnMainThread& onMain)> work, std::function<void()> end);

// True when `access` runs work off the main thread.
bool WorkOffMainThread(const TPumpToolAccess& access);

}  // namespace moirex
