#pragma once
// The run data file: one CSV row per hand-over of the worker, so that the flows of a whole run are
// kept next to the recipe file that describes it (the graph holds only the last few minutes).
//
//   # Recipe: Recipe 2026-12-10 09.15.02.txt
//   # Moirex version: 0.1.0
//   # MFC A: serial 1234567, port /dev/ttyUSB1, gas table 3 N2 (0 to 1 g/min)   (see RunDataComments)
//   ...
//   time,seconds [s],segment,MFCA [g/min],SegmentAverage [g/min],MFCB [g/min],MovingAverage [g/min],MovingAverageMinutes [min]
//   2026-12-10T09:15:03.250+01:00,0.812,1,0.0100,0.0099,0.0200,0.0100,0.05
//
// Comment lines begin with "#" (pandas: read_csv(path, comment="#")). time: local date-time of the
// row in ISO 8601 with its UTC offset; seconds: since Start, on the monotonic clock, to the ms;
// segment: the 1-based segment of the reading, empty for the rows of the stop procedure (after the
// program's end or a stop request those readings belong to no segment); the flows in g/min as the
// worker handed them over, an empty field where a controller gave no reading; MovingAverageMinutes
// in minutes. Numbers use "." whatever the user's decimal separator; the flows in the shortest
// text that reads back as the same value. Lines end CR LF.
//
// Every row goes to the system as it is written (no buffer of the program's own), so a crash of
// the program loses no row. A write that fails is told once; the run goes on without the file.
// Rows are whole or absent: a row that got in only in part (a full disk) is taken back.

#include <string>
#include <string_view>
#include <vector>

#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

inline constexpr std::string_view RunDataHeader =
    "time,seconds [s],segment,MFCA [g/min],SegmentAverage [g/min],MFCB [g/min],MovingAverage [g/min],"
    "MovingAverageMinutes [min]";

// "Run yyyy-mm-dd hh.mm.ss.csv", the data file of the run started at `start` (as its recipe file
// "Recipe yyyy-mm-dd hh.mm.ss.txt").
std::string RunDataFileName(TDateTime start);

// The comment lines (without their "# ") that record what a run ran on, after the recipe's and
// the program version's: each controller's serial number, port and active gas table, the pump's
// port and syringe, the fluid in it and its limit, the outlet conditions, and what the columns hold.
std::vector<std::string> RunDataComments(const TMixer& mixer);

// The text of one row, without its line end; segment 0: an empty segment field; a missing
// reading (ReadingMissing) an empty field.
std::string RunDataRow(TDateTime time, double seconds, size_t segment, const TFlowStatus& flows);

class TRunDataFile {
public:
    TRunDataFile() = default;
    ~TRunDataFile();
    TRunDataFile(const TRunDataFile&) = delete;
    TRunDataFile& operator=(const TRunDataFile&) = delete;

    // Closes any file still open, then creates (or replaces) `path` and writes the comment lines
    // naming `recipe` and the program's version, one for each of `comments`, and the header.
    // False, with the reason in Error(), when that fails; rows are then dropped.
    bool Open(const std::string& path, const std::string& recipe, const std::vector<std::string>& comments = {});
    // Appends one row. False only for the write that fails first, so that the caller tells the
    // failure once; after it, rows are dropped and the result is true.
    bool Add(TDateTime time, double seconds, size_t segment, const TFlowStatus& flows);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    bool Failed() const { return failed_; }
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }
    // The text of the failure, for the run log.
    std::string FailureText() const;

private:
    bool Write(const std::string& text);

    int fd_ = -1;
    bool failed_ = false;
    size_t written_ = 0;  // bytes of whole lines in the file
    std::string path_;
    std::string error_;
};

}  // namespace moirex
