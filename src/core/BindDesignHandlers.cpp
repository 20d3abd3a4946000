#include "core/BindDesignHandlers.h"

#include "config/SimulationMode.h"
#include "core/SegmentProgram.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"

namespace moirex {

void BindDesignHandlers(TMixer& mixer) {
    BindFluidDesignerHandlers(mixer);
    BindFlowSetpointHandlers(mixer);
    BindSimulationModeHandlers(mixer);
    BindSegmentProgramHandlers(mixer);
}

}  // namespace moirex
