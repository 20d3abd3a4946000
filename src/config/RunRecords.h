#pragma once
// Recipe records: one text file per press of "Start with current program", describing the
// segment program and the fluid in the syringe, written into the Userdata folder before any of
// the run's checks so that every press leaves one. The program never reads them back.

#include <string>

#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

class TForm1;
class Dialogs;

// The recipe text from the window's current state: the three component captions, the rows of
// the segment list exactly as shown (tabs included), and the recipe of the pump's fluid. "Saved: "
// shows `now`. Every line ends in CR LF, the last one included. After the fluid, a line
// "Moirex version: " + the project's version; when the run will write a data file, `dataFile`
// names it in a last line "Run data: " + its name.
std::string Recipe(const TForm1& form, const TPumpDetails& pumpDetails, TDateTime now,
                   const std::string& dataFile = {});

// "Recipe yyyy-mm-dd hh.mm.ss.txt" for the moment `now`.
std::string RecipeFileName(TDateTime now);

// The message shown when the recipe folder cannot be created (lines joined by CR LF).
std::string RecipeFolderMessage(const std::string& folderFullPath);

// Writes the recipe file of a press of Start into `userdataFolder`, creating the folder with any
// missing parents; a file of the same name is replaced. True when the file was written and Start
// may go on to its checks. When the folder cannot be created, the folder message is shown and the
// result is false; when the file cannot be written, the file-creation error ("Cannot create file
// " + the path in double quotes + the system's reason) is shown as an error and the result is
// false. `now` names the file and is the "Saved: " time. `dataFile` as for Recipe; the full path
// of the file written goes to `recipePath` when given.
bool WriteRecipeFile(const TForm1& form, const TPumpDetails& pumpDetails, Dialogs& dialogs,
                     const std::string& userdataFolder, TDateTime now, const std::string& dataFile = {},
                     std::string* recipePath = nullptr);

// The same into the mixer's Userdata folder (support/FileLocations.h), at the current time: the
// first action of "Start with current program".
bool WriteRecipeFile(const TForm1& form, const TPumpDetails& pumpDetails, Dialogs& dialogs);

}  // namespace moirex
