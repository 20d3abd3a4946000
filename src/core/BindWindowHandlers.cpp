#include "core/BindWindowHandlers.h"

#include "config/ConfigFile.h"
#include "config/ServiceTools.h"
#include "core/AddPortByName.h"
#include "core/BindDesignHandlers.h"

namespace moirex {

void BindWindowHandlers(TSetupContext& ctx) {
    BindDesignHandlers(ctx.Mixer);
    BindRunButtons(ctx.Run);
    BindSetupHandlers(ctx);
    BindAddPortHandlers(ctx.Mixer);
    BindConfigHandlers(ctx.Mixer, ctx.Instruments);
    BindServiceToolHandlers(ctx.Mixer, ctx.Instruments);
}

}  // namespace moirex
