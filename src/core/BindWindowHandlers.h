#pragma once
// The one place where every handler of the window is bound to its control: the design page, the
// run buttons, the Setup page, "Apply and save" and the service tools. The window (and a test or
// tool that plays the window) calls it once and binds nothing by itself.

#include "core/SetupPage.h"

namespace moirex {

// ctx, its run context and its mixer must outlive the window's controls.
void BindWindowHandlers(TSetupContext& ctx);

}  // namespace moirex
