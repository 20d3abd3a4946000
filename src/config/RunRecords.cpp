#include "config/RunRecords.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"
#include "support/Version.h"

namespace moirex {

namespace fs = std::filesystem;

namespace {

void AddLine(std::string& text, const std::string& line) {
    text += line;
    text += CRLF;
}

std::string FullPath(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(folder), ec);
    if (ec) return folder;
    return p.lexically_normal().string();
}

}  // namespace

std::string Recipe(const TForm1& form, const TPumpDetails& pumpDetails, TDateTime now, const std::string& dataFile) {
    std::string text;
    AddLine(text, "Description of step program and fluid composition");
    AddLine(text, "Saved: " + FormatDateTime("yyyy-mm-dd hh:mm:ss", now));
    AddLine(text, "Inputs: ");
    AddLine(text, "  " + form.GroupBoxY1.Caption());
    AddLine(text, "  " + form.GroupBoxY2.Caption());
    AddLine(text, "  " + form.GroupBoxX.Caption());
    AddLine(text, "Segments in \u00B5g: ");
    for (const TListItem& row : form.RzTabbedListBoxSteps.Items()) AddLine(text, "  " + row.Text);
    AddLine(text, "");
    text += pumpDetails.Fluid.FluidMixtureAsString();
    // Every line of the file ends in CR LF, the last one included.
    if (text.size() < CRLF.size() || text.compare(text.size() - CRLF.size(), CRLF.size(), CRLF) != 0)
        text += CRLF;
    AddLine(text, "Moirex version: " + std::string(ProjectVersion()));
    if (!dataFile.empty()) AddLine(text, "Run data: " + dataFile);
    return text;
}

std::string RecipeFileName(TDateTime now) {
    return "Recipe " + FormatDateTime("yyyy-mm-dd hh.mm.ss", now) + ".txt";
}

std::string RecipeFolderMessage(const std::string& folderFullPath) {
    std::string m = "Could not create folder " + folderFullPath;
    m += CRLF;
    m += CRLF;
    m += "The recipe will not be saved.";
    m += CRLF;
    m += CRLF;
    m += "Windows may prevent programs creating folders in certain locations on the computer.";
    m += CRLF;
    m += "Try running at anopther location";
    m += CRLF;
    m += "Check ti file or folder is not locked or used by another process";
    m += CRLF;
    m += "Try running the software with administrator rights";
    return m;
}

bool WriteRecipeFile(const TForm1& form, const TPumpDetails& pumpDetails, Dialogs& dialogs,
                     const std::string& userdataFolder, TDateTime now, const std::string& dataFile,
                     std::string* recipePath) {
    const std::string folder = FullPath(userdataFolder);
    std::string reason;
    if (!EnsureFolder(folder, reason)) {
        dialogs.ShowMessage(RecipeFolderMessage(folder));
        return false;
    }

    const std::string path = (fs::path(folder) / RecipeFileName(now)).string();
    const std::string text = Recipe(form, pumpDetails, now, dataFile);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        const int err = errno;
        dialogs.ShowError("Cannot create file \"" + path + "\". " + std::strerror(err));
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeErr = errno;
    const bool closed = std::fclose(file) == 0;
    const int closeErr = errno;
    if (!written || !closed) {
        // A recipe cut short is no record of the run: say so instead of starting.
        dialogs.ShowError("Could not write file \"" + path + "\". " +
                          std::strerror(!written ? writeErr : closeErr));
        return false;
    }
    if (recipePath) *recipePath = path;
    return true;
}

bool WriteRecipeFile(const TForm1& form, const TPumpDetails& pumpDetails, Dialogs& dialogs) {
    return WriteRecipeFile(form, pumpDetails, dialogs, UserdataFolder(), Now());
}

}  // namespace moirex
