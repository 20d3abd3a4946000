#include "core/RunDataFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "core/FlowStatusTexts.h"
#include "form/Form.h"
#include "support/TextFormat.h"
#include "support/Version.h"

namespace moirex {

namespace {

// Seconds to the millisecond, as the time stamp.
std::string Seconds(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return std::string(buf, r.ptr);
}

// A value of the comment line in double quotes when it would otherwise split into cells.
std::string CsvText(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) {
        if (c == '\r' || c == '\n') c = ' ';
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return q + "\"";
}

}  // namespace

std::string RunDataFileName(TDateTime start) { return "Run " + FormatDateTime("yyyy-mm-dd hh.mm.ss", start) + ".csv"; }

std::string RunDataRow(TDateTime time, double seconds, size_t segment, const TFlowStatus& f) {
    // A missing reading is an empty field, never a number a reader could take for a flow.
    auto flow = [](double v) { return ReadingMissing(v) ? std::string() : ShortestText(v); };
    return Iso8601Local(time) + "," + Seconds(seconds) + "," + (segment > 0 ? std::to_string(segment) : std::string()) +
           "," + flow(f.MFCA) + "," + ShortestText(f.SegmentAverage) + "," + flow(f.MFCB) + "," +
           ShortestText(f.MovingAverage) + "," + ShortestText(f.MovingAverageMinutes);
}

std::vector<std::string> RunDataComments(const TMixer& m) {
    std::vector<std::string> lines;
    for (const TMFCDetails* d : {&m.MFCADetails, &m.MFCBDetails}) {
        std::string line = std::string(d == &m.MFCADetails ? "MFC A" : "MFC B") + ": serial " + std::to_string(d->Serial) +
                           ", port " + d->ComPortName;
        if (TLUT::InRange(d->ActiveLUT)) {
            const TLUTData& t = d->LUT[d->ActiveLUT];
            line += ", gas table " + std::to_string(d->ActiveLUT) + " " + Trim(t.NameShort) + " (" +
                    ShortestText(t.RangeMin) + " to " + ShortestText(t.RangeMax) + " " + Trim(t.UnitType) + ")";
        } else {
            line += ", no gas table active";
        }
        lines.push_back(line);
    }
    const TPumpDetails& p = m.PumpDetails;
    lines.push_back("Pump: port " + p.Port + ", syringe " + ShortestText(p.SYRINGE_VOLUMEul) + " ul");
    const std::string fluid = !p.Fluid.GasNameLong.empty() ? p.Fluid.GasNameLong : p.Fluid.GasNameMFC;
    lines.push_back("Fluid: " + (fluid.empty() ? std::string("none") : fluid) + ", limit " +
                    std::to_string(p.FLUID_MAX_PPM) + " ppm");
    lines.push_back("Outlet conditions: " + ShortestText(m.Form.RtDoubleEditCustomTemp.Value()) + " degC, " +
                    ShortestText(m.Form.RtDoubleEditCustomPressure.Value()) + " mbar");
    lines.push_back("Columns: time in ISO 8601 local time with its UTC offset; flows in g/min; an empty flow: no "
                    "reading; an empty segment: the stop procedure's readings");
    return lines;
}

TRunDataFile::~TRunDataFile() { Close(); }

bool TRunDataFile::Open(const std::string& path, const std::string& recipe, const std::vector<std::string>& comments) {
    Close();
    path_ = path;
    failed_ = false;
    error_.clear();
    written_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        failed_ = true;
        error_ = std::strerror(errno);
        return false;
    }
    std::string head = "# Recipe: " + CsvText(recipe);
    head += CRLF;
    head += "# Moirex version: " + std::string(ProjectVersion());
    head += CRLF;
    for (std::string line : comments) {
        for (char& c : line)
            if (c == '\r' || c == '\n') c = ' ';
        head += "# " + line;
        head += CRLF;
    }
    head += RunDataHeader;
    head += CRLF;
    return Write(head);
}

bool TRunDataFile::Add(TDateTime time, double seconds, size_t segment, const TFlowStatus& flows) {
    if (fd_ < 0 || failed_) return true;
    std::string row = RunDataRow(time, seconds, segment, flows);
    row += CRLF;
    return Write(row);
}

bool TRunDataFile::Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            error_ = n < 0 ? std::strerror(errno) : "nothing written";
            // Whole rows or none: the part of this one that got in is taken back (a device such
            // as /dev/full cannot be cut, and has nothing to cut).
            if (done > 0 && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) error_ += "; a cut row remains";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    written_ += text.size();
    return true;
}

void TRunDataFile::Close() {
    if (fd_ < 0) return;
    if (::close(fd_) != 0 && !failed_) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    fd_ = -1;
}

std::string TRunDataFile::FailureText() const {
    return "Run data file \"" + path_ + "\" could not be written (" + error_ + "). The run goes on without it.";
}

}  // namespace moirex
