#pragma once
// The main window TForm1 as data: every control the logic reads or writes, by its window name,
// with the initial text and value the operator sees when the window opens.

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "form/Controls.h"

namespace moirex {

#define MX_CONTROL(Kind, Name, ...) Kind Name{#Name __VA_OPT__(, ) __VA_ARGS__}

class TForm1 {
public:
    TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The window itself.
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    int Width() const { return width_; }
    void SetWidth(int width);  // the window's client width; callers then run FormResize
    bool Enabled() const { return enabled_; }
    bool BusyCursor() const { return busyCursor_; }
    void SetEnabled(bool enabled, bool busyCursor);
    void Subscribe(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

    MX_CONTROL(TPageControl, PageControl1,
               {"Setup", "Pump && fluid details", "Debug && Development",
                "Mixture design && Operation", "Flows", "Log", "Pump info"});

    // The window's status line below the pages: what the SECoP node allows while remote
    // control is on, empty otherwise.
    MX_CONTROL(TLabel, LabelRemoteControl);

    // Page 0, "Setup".
    MX_CONTROL(TGroupBox, GroupBox1, "1. List ports");
    MX_CONTROL(TButton, ButtonSetupFindPorts, "Find ports");
    // A port "Find ports" does not list, added by name.
    MX_CONTROL(TEdit, EditAddPort);
    MX_CONTROL(TButton, ButtonAddPort, "Add port");
    MX_CONTROL(TGroupBox, GroupBox2, "2. Select ports");
    MX_CONTROL(TListBox, ListBoxPortPump);
    MX_CONTROL(TListBox, ListBoxPortMFC1);
    MX_CONTROL(TListBox, ListBoxPortMFC2);
    MX_CONTROL(TGroupBox, GroupBox12, "3. Validate selected ports");
    MX_CONTROL(TButton, ButtonSetupValidate, "Validate");
    MX_CONTROL(TGroupBox, GroupBox11, "4. Select gases");
    MX_CONTROL(TListBox, ListBox1);
    MX_CONTROL(TListBox, ListBox2);
    MX_CONTROL(TGroupBox, GroupBox3, "Feedback");
    MX_CONTROL(TCheckBox, CheckBoxPump, "Pump found");
    MX_CONTROL(TCheckBox, CheckBoxMFC, "2 MFCs (mass flow controllers) found");
    MX_CONTROL(TCheckBox, CheckBoxGas, "Gases selected");
    // Whether experiment controls may load and start programs through the SECoP node (reading
    // and stopping are always allowed). Off at every start.
    MX_CONTROL(TCheckBox, CheckBoxAllowRemoteControl, "Allow remote control");
    MX_CONTROL(TMemo, MemoSetupFeedback);

    // Page 1, "Pump && fluid details".
    MX_CONTROL(TGroupBox, GroupBox18, "Syringe details");
    MX_CONTROL(TRealEdit, RtDoubleEditSyringeVolume, 12.5);
    MX_CONTROL(TGroupBox, GroupBox16, "Custom outlet conditions (used to display volumetric flow data)");
    MX_CONTROL(TRealEdit, RtDoubleEditCustomTemp, 21.0, -273.0, 2000.0);
    MX_CONTROL(TRealEdit, RtDoubleEditCustomPressure, 1013.25, 1.0, HUGE_VAL);
    MX_CONTROL(TGroupBox, GroupBox15, "Artificial upper limit for fluid component in mixture");
    MX_CONTROL(TIntegerEdit, RtIntegerEditFluidPPMLimit, 1000000, 0, 1000001);
    MX_CONTROL(TGroupBox, GroupBox17, "Input fluid mixture designer");
    MX_CONTROL(TComboBox, ComboBoxMix1);
    MX_CONTROL(TComboBox, ComboBoxMix2);
    MX_CONTROL(TComboBox, ComboBoxMix3);
    MX_CONTROL(TComboBox, ComboBoxMix4);
    MX_CONTROL(TRealEdit, RtDoubleEdit1, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEdit2, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEdit3, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEdit4, 0.0);
    MX_CONTROL(TEdit, EditDesignedMixtureName);
    MX_CONTROL(TRealEdit, RtDoubleEditDesignedMixtureDensity, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEditDesignMixtureMolarMass, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEditDesigtnMixtureMOLperML, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEditDesignMixtureMGperStroke, 0.0);
    MX_CONTROL(TLabel, Label37,
               "Note that the final volume of a mixture is not always sum of volumes of components.");
    MX_CONTROL(TLabel, Label38,
               "e.g. 100 ml H2O + 100 ml C2H6O = 192 ml, correct for this in final stated density");
    MX_CONTROL(TLabel, Label36, "Also note, 9 mg of dissolved oxygen in 1000 g of H2O, at 20\u00BAC");
    MX_CONTROL(TButton, ButtonRestoreWater, "Set to water");
    MX_CONTROL(TMemo, Memo2);
    MX_CONTROL(TGroupBox, GroupBox13, "Fluid assigned to pump");
    MX_CONTROL(TEdit, EditFluidName, "Undefined");
    MX_CONTROL(TRealEdit, RtDoubleEditFluidDensity, 0.9970474111);
    MX_CONTROL(TRealEdit, RtDoubleEditFluidMolarMass, 18.01528111);
    MX_CONTROL(TRealEdit, RtDoubleEditFluidMolPerGram, 1.0);
    MX_CONTROL(TRealEdit, RtDoubleEditSyringeGramsperStroke, 1.0);
    MX_CONTROL(TRealEdit, RtDoubleEditmolperstep, 1.0);
    MX_CONTROL(TRealEdit, RtDoubleEditmgperStep, 1.0);
    MX_CONTROL(TButton, ButtonApplyPumpAndFluid, "Apply and save");

    // Page 2, "Debug && Development".
    MX_CONTROL(TGroupBox, GroupBox4, "COM port tool for pump");
    MX_CONTROL(TEdit, EditDebugCOMPort, "COM9");
    MX_CONTROL(TEdit, EditDebugCOMSend, "/1TI?23");
    MX_CONTROL(TButton, ButtonDebugCOMSend, "Send");
    MX_CONTROL(TButton, Button2, "Button2");
    MX_CONTROL(TMemo, MemoDebugCOM);
    MX_CONTROL(TGroupBox, GroupBox9, "Priming the pump");
    MX_CONTROL(TLabel, Label17,
               "Read manual first!\n\nThis feature pumps multipple full strokes of fluid.\n"
               "It will take a long time. \n\nThe feature is meant to be used to prime the pump "
               "with fluid, \nto remove the air in the line. \n\nClick only once and do not do "
               "anything until the sound stops.");
    MX_CONTROL(TButton, ButtonPumpFluidFast, "Dispense syringe 10 times");
    MX_CONTROL(TGroupBox, GroupBox5, "Demo values");
    MX_CONTROL(TGroupBox, GroupBox6, "MFC A");
    MX_CONTROL(TGroupBox, GroupBox7, "MFC B");
    MX_CONTROL(TEdit, EditY1DemoName, "O2");
    MX_CONTROL(TRealEdit, RtDoubleEditY1DemoMass, 31.9988);
    MX_CONTROL(TRealEdit, RtDoubleEditY1DemoRange, 0.0358);
    MX_CONTROL(TRealEdit, RtDoubleEditY1DemoTurndown, 120.0);
    MX_CONTROL(TEdit, EditY2DemoName, "Ar");
    MX_CONTROL(TRealEdit, RtDoubleEditY2DemoMass, 39.948);
    MX_CONTROL(TRealEdit, RtDoubleEditY2DemoRange, 0.0892);
    MX_CONTROL(TRealEdit, RtDoubleEditY2DemoTurndown, 100.0);
    MX_CONTROL(TButton, ButtonMFCAAir, "Set to Air");
    MX_CONTROL(TButton, ButtonMFCAH2, "Set to H2");
    MX_CONTROL(TButton, ButtonMFCAH2inAr99, "Set to H2Ar99");
    MX_CONTROL(TButton, ButtonMFCBAir, "Set to Air");
    MX_CONTROL(TButton, ButtonMFCBN2, "Set to N2");
    MX_CONTROL(TGroupBox, GroupBox19, "Change the syringe");
    MX_CONTROL(TLabel, Label69,
               "To remove the syringe in order to remove air bubbles, \nto replace the syringe, or "
               "to replace the valve, \nthe plunger must be in the full bottom position. \n\nClick "
               "this button to move the plunger all the way down.");
    MX_CONTROL(TButton, Button1, "Extend plunger all the way down");

    // Page 3, "Mixture design && Operation".
    MX_CONTROL(TStatusBar, StatusBar1);
    MX_CONTROL(TLEDDisplay, RzLEDDisplay1);
    MX_CONTROL(TGroupBox, GroupBoxY1, "A-component: ");
    MX_CONTROL(TTrackBar, RzTrackBarY1, 5);
    // A flow is never negative: the field's lower limit is 0.
    MX_CONTROL(TIntegerEdit, RtIntegerEditY1Flow, 0, 0, INT64_MAX);
    MX_CONTROL(TLabel, Label10, "0 g/min");
    // While a flow is typed: what the controller's range will make of it once it is entered.
    MX_CONTROL(TLabel, LabelY1Correction);
    MX_CONTROL(TGroupBox, GroupBoxY2, "B-component: ");
    MX_CONTROL(TTrackBar, RzTrackBarY2, 5);
    MX_CONTROL(TIntegerEdit, RtIntegerEditY2Flow, 0, 0, INT64_MAX);
    MX_CONTROL(TLabel, Label45, "0 g/min");
    MX_CONTROL(TLabel, LabelY2Correction);
    MX_CONTROL(TGroupBox, GroupBoxX, "C-component: Undefined");
    MX_CONTROL(TTrackBar, RzTrackBarFluid, 0);
    MX_CONTROL(TRealEdit, RtDoubleEditFluidFlow, 0.0);
    MX_CONTROL(TRealEdit, RtDoubleEditAchievableFluid, 0.0);
    MX_CONTROL(TLabel, Label30);
    MX_CONTROL(TLabel, Label55);
    MX_CONTROL(TGroupBox, GroupBox14, "Segment");
    MX_CONTROL(TRealEdit, RtDoubleEditStepDuration, 0.75);
    MX_CONTROL(TLabel, Label31, "hh:mm");
    MX_CONTROL(TEdit, EditStepComments);
    MX_CONTROL(TButton, ButtonAddStep, "Add or Save Segment");
    MX_CONTROL(TButton, ButtonSegmentDelete, "Delete last Segment");
    MX_CONTROL(TGroupBox, GroupBox10, "Operation");
    MX_CONTROL(TButton, ButtonApply, "Start with current program");
    MX_CONTROL(TButton, ButtonStop, "Stop");
    MX_CONTROL(TGroupBox, GroupBox8, "Segment program (esc to unselect)");
    MX_CONTROL(TTabbedListBox, RzTabbedListBoxSteps);
    MX_CONTROL(TMemo, Memo1);

    // Page 4, "Flows": the graph's data vectors.
    MX_CONTROL(TDoubleVector, RtDoubleVectorTime);
    MX_CONTROL(TDoubleVector, RtDoubleVector2GasAReal);
    MX_CONTROL(TDoubleVector, RtDoubleVectorGasBReal);
    MX_CONTROL(TDoubleVector, RtDoubleVectorGasAAvg);

    // Page 5, "Log", and page 6, "Pump info".
    MX_CONTROL(TMemo, MemoLog);
    MX_CONTROL(TMemo, MemoPump);

private:
    void Changed();
    std::string caption_;
    int width_ = 1126;
    bool enabled_ = true;
    bool busyCursor_ = false;
    std::vector<std::function<void()>> observers_;
};

#undef MX_CONTROL

}  // namespace moirex
