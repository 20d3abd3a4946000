// The configuration file: first start, key order, the reading rules of each kind of value, the
// round trip, and a save that fails part-way.

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "ConfigFixture.h"
#include "config/ConfigFile.h"
#include "model/FlowSetpoints.h"
#include "state/GasMixtures.h"
#include "support/IniFile.h"

namespace moirex::testing_config {
namespace {

class ConfigFileTest : public HomeFolderTest {};

// What a first start writes: every key of the save order except the three ports (none is selected
// at that point of start-up), with the water recipe.
const char* const kFirstStartFile =
    "[Syringe]\r\n"
    "Steps=24000\r\n"
    "MaxSpeed=1000\r\n"
    "Volume MicroLiter=12.5\r\n"
    "\r\n"
    "[Logging]\r\n"
    "Type[Off|File|Live]=Off\r\n"
    "\r\n"
    "[Graph]\r\n"
    "Points=1000\r\n"
    "Average sample size=358\r\n"
    "\r\n"
    "[MFCA]\r\n"
    "DynamicRangeCull=20\r\n"
    "\r\n"
    "[MFCB]\r\n"
    "DynamicRangeCull=10\r\n"
    "\r\n"
    "[Custom flow conditions]\r\n"
    "TemperatureC=21\r\n"
    "PressuremBar=1013.25\r\n"
    "\r\n"
    "[Fluid]\r\n"
    "Mixture name=Water pure\r\n"
    "Mixture custom density=0.997735023498535\r\n"
    "Mixture molar mass=18.0152797698975\r\n"
    "Max PPM=1000000\r\n"
    "Mix1ID=gH2O\r\n"
    "Mix1Mass=1000\r\n"
    "Mix2ID=\r\n"
    "Mix2Mass=0\r\n"
    "Mix3ID=\r\n"
    "Mix3Mass=0\r\n"
    "Mix4ID=\r\n"
    "Mix4Mass=0\r\n";

TEST_F(ConfigFileTest, FirstStartWritesTheWaterRecipeInTheSaveOrder) {
    ASSERT_FALSE(fs::exists(IniFilePath()));
    INILoad(mixer);
    EXPECT_EQ(IniText(), kFirstStartFile);
    EXPECT_EQ(mixer.PumpDetails.Fluid.GasNameLong, "Water pure");
    EXPECT_EQ(form.EditFluidName.Text(), "Water pure");
    EXPECT_EQ(form.GroupBoxX.Caption(), "C-component: Water pure");
    EXPECT_DOUBLE_EQ(mixer.PumpDetails.SYRINGE_VOLUMEul, 12.5);
    EXPECT_EQ(mixer.PumpDetails.SYRINGE_STEPS, 24000);
    EXPECT_NEAR(mixer.PumpDetails.SYRINGE_SIZEmg, 12.5 * 0.997735, 1e-5);
    EXPECT_EQ(mixer.LoggingType, TLoggingType::ltOff);
    EXPECT_TRUE(dlg.shown.empty());
    // A second start reads the water recipe back and writes nothing.
    const auto written = fs::last_write_time(IniFilePath());
    TForm1 form2;
    ScriptedDialogs dlg2;
    TMixer mixer2{form2, dlg2};
    INILoad(mixer2);
    EXPECT_EQ(fs::last_write_time(IniFilePath()), written);
    EXPECT_EQ(mixer2.PumpDetails.Fluid.GasNameLong, "Water pure");
    EXPECT_EQ(mixer2.PumpDetails.Fluid.DensityFluid20C, mixer.PumpDetails.Fluid.DensityFluid20C);
    EXPECT_EQ(form2.ComboBoxMix1.ItemIndex(), static_cast<int>(TGasItems::gH2O));
    EXPECT_EQ(form2.ComboBoxMix2.ItemIndex(), -1);
}

// Each value read alone, in a file that holds a saved fluid so that nothing is written back.
struct ReadCase {
    const char* name;
    const char* section;
    const char* entry;  // "key=value"
    std::function<void(const TMixer&)> check;
};

TEST_F(ConfigFileTest, ValuesAreReadByTheirRules) {
    const std::vector<ReadCase> cases = {
        {"hex steps", "Syringe", "Steps=0x5DC0", [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_STEPS, 24000); }},
        {"bad steps", "Syringe", "Steps=abc", [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_STEPS, 24000); }},
        {"other steps", "Syringe", "Steps=48000", [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_STEPS, 48000); }},
        {"too big for 32 bits", "Graph", "Points=99999999999", [](const TMixer& m) { EXPECT_EQ(m.GraphPoints, 1000); }},
        {"lower-case off", "Logging", "Type[Off|File|Live]=off",
         [](const TMixer& m) { EXPECT_EQ(m.LoggingType, TLoggingType::ltFile); }},
        {"empty logging", "Logging", "Type[Off|File|Live]=",
         [](const TMixer& m) { EXPECT_EQ(m.LoggingType, TLoggingType::ltFile); }},
        {"live", "Logging", "Type[Off|File|Live]=Live", [](const TMixer& m) { EXPECT_EQ(m.LoggingType, TLoggingType::ltLive); }},
        {"Off", "Logging", "Type[Off|File|Live]=Off", [](const TMixer& m) { EXPECT_EQ(m.LoggingType, TLoggingType::ltOff); }},
        {"identifier case ignored", "Fluid", "Mix2ID=GH2O",
         [](const TMixer& m) { EXPECT_EQ(m.Form.ComboBoxMix2.ItemIndex(), static_cast<int>(TGasItems::gH2O)); }},
        {"long name is no identifier", "Fluid", "Mix2ID=Water",
         [](const TMixer& m) { EXPECT_EQ(m.Form.ComboBoxMix2.ItemIndex(), -1); }},
        {"empty identifier", "Fluid", "Mix1ID=", [](const TMixer& m) { EXPECT_EQ(m.Form.ComboBoxMix1.ItemIndex(), -1); }},
        {"comma decimal", "Syringe", "Volume MicroLiter=25,5",
         [](const TMixer& m) { EXPECT_DOUBLE_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5); }},
        {"point decimal", "Syringe", "Volume MicroLiter=25.5",
         [](const TMixer& m) { EXPECT_DOUBLE_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 25.5); }},
        {"key with blanks", "Graph", "  Average sample size  =  12  ", [](const TMixer& m) { EXPECT_EQ(m.AverageSampleSize, 12); }},
        {"outage limit", "Run", "Outage stop s=0", [](const TMixer& m) { EXPECT_EQ(m.OutageStop_s, 0); }},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "[Fluid]\r\nMixture name=Saved\r\nMixture molar mass=18\r\n";
        if (std::string(c.section) == "Fluid") text += std::string(c.entry) + "\r\n";
        else text += "[" + std::string(c.section) + "]\r\n" + c.entry + "\r\n";
        WriteIni(text);
        TForm1 f;
        ScriptedDialogs d;
        TMixer m{f, d};
        INILoad(m);
        c.check(m);
        EXPECT_EQ(IniText(), text) << "the load wrote to the file";
    }
}

// The guardian's guard time: a value it could act on, else refused with a message and 10 s used.
TEST_F(ConfigFileTest, GuardTimeoutOutsideItsRangeIsRefusedWithAMessage) {
    const struct {
        const char* entry;
        double seconds;
        bool refused;
    } cases[] = {
        {"", 10, false},        {"Guard timeout s=2.5", 2.5, false}, {"Guard timeout s=0.5", 0.5, false},
        {"Guard timeout s=3600", 3600, false}, {"Guard timeout s=0", 10, true},   {"Guard timeout s=0.4", 10, true},
        {"Guard timeout s=-3", 10, true},      {"Guard timeout s=ten", 10, true}, {"Guard timeout s=3601", 10, true},
        {"Guard timeout s=nan", 10, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        WriteIni(std::string("[Fluid]\r\nMixture name=Saved\r\nMixture molar mass=18\r\n[Run]\r\n") + c.entry + "\r\n");
        TForm1 f;
        ScriptedDialogs d;
        TMixer m{f, d};
        INILoad(m);
        EXPECT_EQ(m.GuardTimeout_s, c.seconds);
        bool told = false;
        for (const auto& shown : d.shown) told = told || shown.text.find("Guard timeout s") != std::string::npos;
        EXPECT_EQ(told, c.refused);
    }
}

TEST_F(ConfigFileTest, LogRotationIsReadAndABadValueIsRefusedWithTheDefaultUsed) {
    constexpr uint64_t MB = 1024 * 1024;
    struct Case {
        const char* entries;
        uint64_t sizeMB;
        uint32_t kept;
        const char* refused;  // the start of the refusal line, or nullptr
    };
    const Case cases[] = {
        {"", 50, 5, nullptr},  // absent: the defaults
        {"Max file size MB=10\r\nFiles kept=3\r\n", 10, 3, nullptr},
        {"Max file size MB=100000\r\nFiles kept=1\r\n", 100000, 1, nullptr},  // the range's ends
        {"Max file size MB=0\r\n", 50, 5, "[Logging] Max file size MB=0 is refused (allowed: 1 to 100000); 50"},
        {"Max file size MB=-5\r\n", 50, 5, "[Logging] Max file size MB=-5 is refused"},
        {"Max file size MB=2.5\r\n", 50, 5, "[Logging] Max file size MB=2.5 is refused"},
        {"Max file size MB=lots\r\n", 50, 5, "[Logging] Max file size MB=lots is refused"},
        {"Files kept=0\r\n", 50, 5, "[Logging] Files kept=0 is refused (allowed: 1 to 1000); 5 is used instead"},
        {"Files kept=1001\r\n", 50, 5, "[Logging] Files kept=1001 is refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        WriteIni(std::string("[Logging]\r\nType[Off|File|Live]=File\r\n") + c.entries +
                 "[Fluid]\r\nMixture name=Saved\r\n");
        TForm1 f;
        ScriptedDialogs d;
        TMixer m{f, d};
        INILoad(m);
        EXPECT_EQ(m.LogRotation.MaxFileSize, c.sizeMB * MB);
        EXPECT_EQ(m.LogRotation.FilesKept, c.kept);
        EXPECT_EQ(m.LoggingType, TLoggingType::ltFile) << "a bad rotation value leaves the logging on";
        if (c.refused == nullptr) {
            EXPECT_TRUE(d.Texts().empty());
        } else {
            ASSERT_EQ(d.Texts().size(), 1u);
            EXPECT_NE(d.Texts()[0].find(c.refused), std::string::npos) << d.Texts()[0];
            EXPECT_EQ(d.Texts()[0].rfind("Settings in " + IniFilePath(), 0), 0u) << d.Texts()[0];
        }
    }
}

TEST_F(ConfigFileTest, LoggingIsOffWhenTheLogFolderCannotBeWritten) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    WriteIni("[Logging]\r\nType[Off|File|Live]=File\r\n[Fluid]\r\nMixture name=Saved\r\n");
    fs::permissions(home, fs::perms::owner_write, fs::perm_options::remove);
    INILoad(mixer);
    EXPECT_EQ(mixer.LoggingType, TLoggingType::ltOff);
    ASSERT_EQ(dlg.Texts(), std::vector<std::string>{LoggingFolderMessage(home.string())});
    EXPECT_EQ(dlg.Texts()[0], "Logging cannot be enabled, the log folder " + home.string() +
                                  " cannot be written. Alternatively set Logging type=Off in the ini-file.");
}

TEST_F(ConfigFileTest, WhatIsSavedReadsBackEqual) {
    INILoad(mixer);
    form.ListBoxPortPump.SetItems({{"/dev/ttyS0"}, {"/dev/serial/by-id/usb-Ü pump"}});
    form.ListBoxPortPump.SetItemIndex(1);
    form.ListBoxPortMFC1.SetItems({{"/dev/ttyUSB1"}});
    form.ListBoxPortMFC1.SetItemIndex(0);
    mixer.PumpDetails.SYRINGE_VOLUMEul = 0.1 + 0.2;  // 15 significant digits are kept
    mixer.PumpDetails.FLUID_MAX_PPM = 12345;
    mixer.PumpDetails.Fluid.GasNameLong = "Éthanol 10 %";
    mixer.PumpDetails.Fluid.DensityFluid20C = 0.9820377f;
    mixer.PumpDetails.Fluid.MolarMass = 19.3f;
    mixer.GraphPoints = 77;
    mixer.LoggingType = TLoggingType::ltLive;
    form.RtDoubleEditCustomTemp.SetValue(-12.125);
    form.ComboBoxMix3.SetItemIndex(static_cast<int>(TGasItems::gAr));
    form.RtDoubleEdit3.SetValue(2.5);
    ASSERT_TRUE(INISaveAndApply(mixer));
    EXPECT_EQ(form.GroupBoxX.Caption(), "C-component: Éthanol 10 %");

    const TIniFile ini(IniFilePath());
    EXPECT_EQ(ini.ReadString("COM ports", "Pump", ""), "/dev/serial/by-id/usb-Ü pump");
    EXPECT_EQ(ini.ReadString("COM ports", "MFCA", ""), "/dev/ttyUSB1");
    EXPECT_EQ(ini.ReadString("COM ports", "MFCB", "absent"), "absent");
    TForm1 f;
    ScriptedDialogs d;
    TMixer m{f, d};
    INILoad(m);
    EXPECT_EQ(m.INIPortPump, "/dev/serial/by-id/usb-Ü pump");
    EXPECT_NEAR(m.PumpDetails.SYRINGE_VOLUMEul, 0.3, 1e-15);
    EXPECT_EQ(m.PumpDetails.FLUID_MAX_PPM, 12345);
    EXPECT_EQ(f.EditDesignedMixtureName.Text(), "Éthanol 10 %");
    EXPECT_EQ(m.PumpDetails.Fluid.DensityFluid20C, 0.9820377f);
    EXPECT_EQ(m.GraphPoints, 77);
    EXPECT_EQ(m.LoggingType, TLoggingType::ltLive);
    EXPECT_EQ(f.RtDoubleEditCustomTemp.Value(), -12.125);
    EXPECT_EQ(f.ComboBoxMix3.ItemIndex(), static_cast<int>(TGasItems::gAr));
    EXPECT_EQ(f.RtDoubleEdit3.Value(), 2.5);

    // Saving without a selection in a port list keeps that port's earlier value.
    form.ListBoxPortMFC1.SetItemIndex(-1);
    ASSERT_TRUE(INISaveAndApply(mixer));
    EXPECT_EQ(TIniFile(IniFilePath()).ReadString("COM ports", "MFCA", ""), "/dev/ttyUSB1");
}

// A file size limit makes the writes fail part-way even for root, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = old_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(ConfigFileTest, ASaveThatFailsPartWayKeepsTheEarlierKeysAndTellsThePath) {
    bool saved = true;
    {
        FileSizeLimit limit(120);
        saved = INISaveAndApply(mixer);
    }
    EXPECT_FALSE(saved);
    ASSERT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(dlg.shown[0].kind, ScriptedDialogs::Entry::Error);
    EXPECT_EQ(dlg.shown[0].text, "Unable to write to " + IniFilePath());
    const std::string text = IniText();
    EXPECT_NE(text.find("Steps=0\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("[Fluid]"), std::string::npos) << text;
    EXPECT_LE(text.size(), 120u);
    EXPECT_TRUE(form.Enabled());
}

TEST_F(ConfigFileTest, ApplyAndSaveStopsAtAFailedSave) {
    INILoad(mixer);
    form.RtDoubleEditSyringeVolume.SetValue(25);
    {
        FileSizeLimit limit(60);
        ButtonApplyPumpAndFluidClick(mixer);
    }
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"Unable to write to " + IniFilePath()});
    EXPECT_DOUBLE_EQ(TIniFile(IniFilePath()).ReadFloat("Syringe", "Volume MicroLiter", 0), 12.5);
    EXPECT_TRUE(form.Enabled());
    // The pump took the new syringe; the design page's fluid range follows it all the same.
    EXPECT_DOUBLE_EQ(mixer.PumpDetails.SYRINGE_VOLUMEul, 25);
    EXPECT_EQ(form.RtDoubleEditFluidFlow.MaxValue(), FluidFlowMaximum(FluidSourceOf(mixer)));
}

// A save stops at the first key that cannot be written: a later key that would fit (here one that
// shortens the file) must not reach the file either.
TEST_F(ConfigFileTest, ASaveWritesNothingAfterTheFirstFailedKey) {
    const std::string before = "[Fluid]\r\nMixture name=Saved\r\nMix4Mass=" + std::string(1500, '0') + "\r\n";
    WriteIni(before);
    bool saved = true;
    {
        // The first key (the syringe's steps, a new section) makes the file too big; writing
        // Mix4Mass=0 would make it smaller than it is.
        FileSizeLimit limit(before.size() + 8);
        saved = INISaveAndApply(mixer);
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(IniText(), before);
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"Unable to write to " + IniFilePath()});
}

// Values no mixer can use are refused, each told with its key, its text and the value used.
TEST_F(ConfigFileTest, AbsurdValuesAreRefusedWithKeyValueAndTheValueUsed) {
    struct Case {
        const char* section;
        const char* entry;
        const char* told;
        std::function<void(const TMixer&)> check;
    };
    const std::vector<Case> cases = {
        {"Syringe", "Volume MicroLiter=0", "[Syringe] Volume MicroLiter=0 is refused (allowed: 0.1 to 100000); 12.5 is used instead",
         [](const TMixer& m) {
             EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5);
             EXPECT_EQ(m.Form.RtDoubleEditSyringeVolume.Value(), 12.5);
         }},
        {"Syringe", "Volume MicroLiter=-5", "[Syringe] Volume MicroLiter=-5 is refused (allowed: 0.1 to 100000); 12.5 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5); }},
        {"Syringe", "Volume MicroLiter=1e308", "[Syringe] Volume MicroLiter=1e308 is refused (allowed: 0.1 to 100000); 12.5 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5); }},
        {"Syringe", "Volume MicroLiter=25,5", "[Syringe] Volume MicroLiter=25,5 is refused (allowed: 0.1 to 100000); 12.5 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5); }},
        {"Fluid", "Mixture custom density=0", "[Fluid] Mixture custom density=0 is refused (allowed: 0.01 to 30); 1 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.Fluid.DensityFluid20C, 1.0f); }},
        {"Fluid", "Mixture custom density=-1", "[Fluid] Mixture custom density=-1 is refused (allowed: 0.01 to 30); 1 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.Fluid.DensityFluid20C, 1.0f); }},
        {"MFCA", "DynamicRangeCull=-3", "[MFCA] DynamicRangeCull=-3 is refused (allowed: 0 to 1000); 20 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.DynamicRangeCullA, 20); }},
        {"Run", "Outage stop s=-5", "[Run] Outage stop s=-5 is refused (allowed: 0 to 1000000); 60 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.OutageStop_s, 60); }},
        {"Graph", "Points=0", "[Graph] Points=0 is refused (allowed: 1 to 10000000); 1000 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.GraphPoints, 1000); }},
        {"Graph", "Points=-1", "[Graph] Points=-1 is refused (allowed: 1 to 10000000); 1000 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.GraphPoints, 1000); }},
        {"Fluid", "Max PPM=2000000", "[Fluid] Max PPM=2000000 is refused (allowed: 1 to 1000000); 1000000 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.FLUID_MAX_PPM, 1000000); }},
        {"Syringe", "Steps=abc", "[Syringe] Steps=abc is refused (allowed: 1 to 1000000); 24000 is used instead",
         [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_STEPS, 24000); }},
        {"Syringe", "Volume MicroLiter=25", nullptr, [](const TMixer& m) { EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 25); }},
        {"Run", "Outage stop s=0", nullptr, [](const TMixer& m) { EXPECT_EQ(m.OutageStop_s, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        std::string text = "[Fluid]\r\nMixture name=Saved\r\nMixture molar mass=18\r\n";
        if (std::string(c.section) == "Fluid") text += std::string(c.entry) + "\r\n";
        else text += "[" + std::string(c.section) + "]\r\n" + c.entry + "\r\n";
        WriteIni(text);
        TForm1 f;
        ScriptedDialogs d;
        TMixer m{f, d};
        INILoad(m);
        c.check(m);
        if (c.told == nullptr) {
            EXPECT_TRUE(d.shown.empty());
        } else {
            EXPECT_EQ(d.Texts(), std::vector<std::string>{"Settings in " + IniFilePath() + " that cannot be used:\r\n" + c.told});
        }
    }
}

// The window's fields take only what the file may hold, so "Apply and save" cannot store it.
TEST_F(ConfigFileTest, FieldsRefuseWhatTheFileRefuses) {
    INILoad(mixer);
    form.RtDoubleEditSyringeVolume.SetValue(-5);
    EXPECT_GE(form.RtDoubleEditSyringeVolume.Value(), 0.1);
    form.RtDoubleEditSyringeVolume.SetValue(1e308);
    EXPECT_LE(form.RtDoubleEditSyringeVolume.Value(), 100000);
    form.RtDoubleEditDesignedMixtureDensity.SetValue(-1);
    EXPECT_GT(form.RtDoubleEditDesignedMixtureDensity.Value(), 0);
    form.RtIntegerEditFluidPPMLimit.SetValue(0);
    EXPECT_EQ(form.RtIntegerEditFluidPPMLimit.Value(), 1);
    form.RtDoubleEditSyringeVolume.SetValue(-5);
    ButtonApplyPumpAndFluidClick(mixer);
    EXPECT_GT(mixer.PumpDetails.SYRINGE_VOLUMEul, 0);
    EXPECT_GT(TIniFile(IniFilePath()).ReadFloat("Syringe", "Volume MicroLiter", 0), 0);
}

// A read-only file is honoured; an unreadable one is told as unreadable, and neither is replaced.
TEST_F(ConfigFileTest, ReadOnlyFileIsKeptAndTold) {
    INILoad(mixer);
    const std::string before = IniText();
    fs::permissions(IniFilePath(), fs::perms::owner_read | fs::perms::group_read);
    form.RtDoubleEditSyringeVolume.SetValue(25);
    ButtonApplyPumpAndFluidClick(mixer);
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"Unable to write to " + IniFilePath()});
    EXPECT_EQ(IniText(), before);
}

TEST_F(ConfigFileTest, UnreadableFileIsToldAsUnreadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file (scripts/test.sh runs this unprivileged)";
    WriteIni("[Fluid]\r\nMixture name=Saved\r\n[Syringe]\r\nVolume MicroLiter=25\r\n");
    fs::permissions(IniFilePath(), fs::perms::owner_write);
    INILoad(mixer);
    EXPECT_EQ(mixer.PumpDetails.SYRINGE_VOLUMEul, 12.5);
    ASSERT_FALSE(dlg.Texts().empty());
    EXPECT_EQ(dlg.Texts().front(), "Unable to read " + IniFilePath());
    for (const std::string& t : dlg.Texts()) EXPECT_EQ(t.find("Unable to write"), std::string::npos) << t;
    dlg.shown.clear();
    EXPECT_FALSE(INISaveAndApply(mixer));
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"Unable to read " + IniFilePath()});
    fs::permissions(IniFilePath(), fs::perms::owner_all);
    EXPECT_EQ(IniText(), "[Fluid]\r\nMixture name=Saved\r\n[Syringe]\r\nVolume MicroLiter=25\r\n");
}

// A program folder the user may not write (a shared lab installation) with its configuration file
// set up there: the file is read into the per-user one, and where settings are saved is told.
TEST_F(ConfigFileTest, FileBesideANonWritableProgramFolderIsRead) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder (scripts/test.sh runs this unprivileged)";
    const fs::path program = home / "program";
    const fs::path xdg = home / "xdg";
    fs::create_directories(program);
    {
        std::ofstream out(program / "moirex.ini", std::ios::binary);
        out << "[Syringe]\r\nVolume MicroLiter=25\r\n[Fluid]\r\nMixture name=Saved\r\n";
    }
    fs::permissions(program, fs::perms::owner_read | fs::perms::owner_exec);
    const char* oldHome = std::getenv("MOIREX_HOME");
    const std::string keptHome = oldHome ? oldHome : "";
    ::unsetenv("MOIREX_HOME");
    ::setenv("XDG_CONFIG_HOME", (xdg / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (xdg / "data").c_str(), 1);
    SetHomeFolder("");
    UseProgramFiles(program.string(), "moirex");
    INILoad(mixer);
    const std::string used = IniFilePath();
    UseProgramFiles("", "");
    SetHomeFolder(home.string());
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    if (!keptHome.empty()) ::setenv("MOIREX_HOME", keptHome.c_str(), 1);
    fs::permissions(program, fs::perms::owner_all);

    EXPECT_EQ(used, (xdg / "config" / "moirex" / "moirex.ini").string());
    EXPECT_EQ(mixer.PumpDetails.SYRINGE_VOLUMEul, 25);
    EXPECT_EQ(TIniFile(used).ReadFloat("Syringe", "Volume MicroLiter", 0), 25);
    const std::vector<std::string> log = form.MemoLog.Lines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("Settings are saved to " + used), std::string::npos) << log[0];
    EXPECT_NE(log[0].find("read from " + (program / "moirex.ini").string()), std::string::npos) << log[0];
}

TEST_F(ConfigFileTest, GasHistoryDefaultsToUnknownAndIsKept) {
    EXPECT_EQ(ReadGasHistory().OldGasA, "Unknown");
    EXPECT_EQ(ReadGasHistory().OldGasB, "Unknown");
    ASSERT_TRUE(WriteGasHistory(mixer, "Oxygen", "Argon"));
    EXPECT_EQ(ReadGasHistory().OldGasA, "Oxygen");
    EXPECT_EQ(ReadGasHistory().OldGasB, "Argon");
    EXPECT_NE(IniText().find("[History]\r\nOldGasA=Oxygen\r\nOldGasB=Argon\r\n"), std::string::npos);
}

}  // namespace
}  // namespace moirex::testing_config
