#pragma once
// A window with its mixer state and scripted dialogs, whose files (INI file, logs, Userdata) go
// to a temporary home folder of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "support/FileLocations.h"

namespace moirex::testing_config {

namespace fs = std::filesystem;

class HomeFolderTest : public ::testing::Test {
protected:
    HomeFolderTest() {
        static std::atomic<int> n{0};
        home = fs::temp_directory_path() / ("moirex-h8-home-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::create_directories(home);
        SetHomeFolder(home.string());
    }
    ~HomeFolderTest() override {
        SetHomeFolder("");
        std::error_code ec;
        fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(home, ec);
    }

    std::string IniText() const {
        std::ifstream in(IniFilePath(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void WriteIni(const std::string& text) const {
        std::ofstream out(IniFilePath(), std::ios::binary | std::ios::trunc);
        out << text;
    }

    fs::path home;
    TForm1 form;
    ScriptedDialogs dlg;
    TMixer mixer{form, dlg};
};

}  // namespace moirex::testing_config
