#pragma once
// Bringing the instruments up for a run without the window, as the Setup page's validation and
// gas selection do: the pump check, the controllers' read-out at addresses 1 and 2, the switch of
// each controller to the chosen gas table, and the gas-line confirmation question.

#include <functional>
#include <string>
#include <vector>

#include "devices/PSD4_Interface.h"
#include "state/MixerState.h"
#include "support/Clock.h"

namespace moirex {

// Every feedback line (the lines the Setup page's feedback memo would get) goes here as it is made.
using FeedbackSink = std::function<void(const std::string& line)>;

// The pump check of validation: connect, stop, and the initialisation command; true when
// connected and the initialisation (when sent) was answered. Pump messages go to `sink`; the
// pump's waits go through `clock` and its port uses `timing`.
bool PumpFindInitHamilton(const std::string& port, const FeedbackSink& sink, Clock& clock = SystemClock(),
                          const TPumpPortTiming& timing = {});

// ReadMFCDetails of the controller at `address` on `port`, with the feedback lines of validation.
// MFC B's blocks carry the unit line twice, as the Setup page shows them.
bool ValidateController(moirex::TMFCDetails& details, const std::string& port, uint32_t address,
                        int32_t dynamicRangeCull, bool isMFCB, const FeedbackSink& sink,
                        Clock& clock = SystemClock());

// The gas table chosen by `choice`: a table number 2 to 11, or a gas name (the table's own name,
// its short name or its custom name; letter case matters only when two tables differ by it only).
// 0 with `error` set when the controller has no such table.
int ChooseGasTable(const moirex::TMFCDetails& details, const std::string& choice, std::string& error);

// What can be told of a gas choice before any controller is asked: a number must be a table
// number 2 to 11, a name must not be empty. False with `error` set otherwise.
bool GasChoiceCanExist(const std::string& choice, std::string& error);

// The information message of a gas the catalogue does not recognise ("MFC1 LUT:..."), or empty
// when it is recognised. mfcNumber is 1 for MFC A, 2 for MFC B.
std::string UnrecognisedGasMessage(const moirex::TMFCDetails& details, int mfcNumber, uint32_t table);

// The switch to gas table `table` confirmed by read-back, then the table's totalizer scaling, with
// the feedback lines of gas selection. mfcName: "MFC A" or "MFC B".
bool SelectGas(moirex::TMFCDetails& details, uint32_t table, const std::string& mfcName, const FeedbackSink& sink,
               Clock& clock = SystemClock());

// The question "Confirm selected gases" asks, lines joined by CR LF.
std::string GasConfirmationQuestion(const std::string& oldGasA, const std::string& newGasA,
                                    const std::string& oldGasB, const std::string& newGasB);
inline constexpr const char* GasConfirmationCaption = "Confirm selected gases";

}  // namespace moirex
