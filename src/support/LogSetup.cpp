// Destination set-up of the start-up sequence. Kept apart from the channels so that a program
// that only sends messages does not pull in the date-time formatting.
#include "support/DateTime.h"
#include "support/Log.h"

namespace moirex {

std::unique_ptr<TCodeSiteDestination> SetupLogDestination(TLoggingType type,
                                                          const std::string& folder,
                                                          double startTime,
                                                          const TLogRotation& rotation) {
    std::unique_ptr<TCodeSiteDestination> destination;
    if (type == TLoggingType::ltOff) {
        // FormLogger and the serial channel keep the default destination and stay enabled.
        DefaultLogger().Enabled = false;
    } else {
        if (type == TLoggingType::ltLive) DefaultLogger().Clear();
        destination = std::make_unique<TCodeSiteDestination>();
        destination->LogFile.Active = true;
        destination->LogFile.FileName =
            "MoirexLog " + FormatDateTime("yyyy-mm-dd hh_mm_ss", startTime) + ".csl";
        destination->LogFile.FilePath = folder;
        destination->LogFile.Rotation = rotation;
        FormLogger().SetDestination(destination.get());
        // The serial transport's and the controller read-out's lines belong with the run's
        // "Thread." lines: without a live viewer on Linux they would otherwise be seen nowhere
        // once the run is over.
        SerialPortLogger().SetDestination(destination.get());
        DefaultLogger().SetDestination(destination.get());
        if (type == TLoggingType::ltLive) {
            destination->Viewer.Active = true;
            // The live viewer is running now, so the channels without a destination of their
            // own (the serial transport's) show there too, as they do with the viewer open.
            DefaultDestination().Viewer.Active = true;
        }
        FormLogger().Enabled = true;
    }
    FormLogger().Send("Logging system initialized");
    return destination;
}

}  // namespace moirex
