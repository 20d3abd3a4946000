#pragma once
// The run data file: one CSV row per hand-over of the worker, so that the flows of a whole run are
// kept next to the recipe file that describes it (the graph holds only the last few minutes).
//
//   # Recipe: Recipe 2026-12-10 09.15.02.txt
//   # Moirex version: 0.1.0
//   time,seconds,segment,MFCA,SegmentAverage,MFCB,MovingAverage,MovingAverageMinutes
//   2026-12-10 09:15:03.250,0.812,1,0.0100,0.0099,0.0200,0.0100,0.05
//
// time: local date-time of the row; seconds: since Start, on the monotonic clock, to the ms;
// segment: the 1-based segment of the reading, empty for the rows of the stop procedure (after the
// program's end or a stop request those readings belong to no segment); the flows in g/min as the
// worker handed them over (MFCA -1: no answer from MFC A), MovingAverageMinutes in minutes. Numbers use "." whatever the user's decimal
// separator; the flows in the shortest text that reads back as the same value. Lines end CR LF.
//
// Every row goes to the system as it is written (no buffer of the program's own), so a crash of
// the program loses no row. A write that fails is told once; the run goes on without the file.
// Rows are whole or absent: a row that got in only in part (a full disk) is taken back.

#include <string>
#include <string_view>

#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

inline constexpr std::string_view RunDataHeader =
    "time,seconds,segment,MFCA,SegmentAverage,MFCB,MovingAverage,MovingAverageMinutes";

// "Run yyyy-mm-dd hh.mm.ss.csv", the data file of the run started at `start` (as its recipe file
// "Recipe yyyy-mm-dd hh.mm.ss.txt").
std::string RunDataFileName(TDateTime start);

// The text of one row, without its line end; segment 0: an empty segment field.
std::string RunDataRow(TDateTime time, double seconds, size_t segment, const TFlowStatus& flows);

class TRunDataFile {
public:
    TRunDataFile() = default;
    ~TRunDataFile();
    TRunDataFile(const TRunDataFile&) = delete;
    TRunDataFile& operator=(const TRunDataFile&) = delete;

    // Closes any file still open, then creates (or replaces) `path` and writes the comment line
    // naming `recipe` and the header. False, with the reason in Error(), when that fails; rows are
    // then dropped.
    bool Open(const std::string& path, const std::string& recipe);
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
