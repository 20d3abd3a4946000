#include "sim/PumpModel.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace moirex::sim {

namespace {

constexpr int kErrInvalidCommand = 2;
constexpr int kErrInvalidOperand = 3;
constexpr int kErrSequence = 4;
constexpr int kErrNotInitialised = 7;
constexpr int kErrMoveNotAllowed = 11;
constexpr int kErrBusy = 15;
constexpr size_t kMaxLoopDepth = 10;

struct Letter {
    char Name;
    bool NeedsValue;
    bool TakesValue;
    int64_t Min, Max;
};

// The command letters the pump knows, with their operand ranges.
constexpr Letter kLetters[] = {
    {'Z', false, true, 0, 40},     {'Y', false, true, 0, 40},      {'W', false, true, 0, 40},
    {'I', false, true, 0, 8},      {'O', false, true, 0, 8},       {'B', false, true, 0, 8},
    {'A', true, true, 0, 24000},   {'a', true, true, 0, 24000},    {'P', true, true, 0, 24000},
    {'p', true, true, 0, 24000},   {'D', true, true, 0, 24000},    {'d', true, true, 0, 24000},
    {'V', true, true, 1, 48000},   {'v', true, true, 1, 10000},    {'c', true, true, 1, 48000},
    {'S', true, true, 0, 40},      {'L', true, true, 1, 20},       {'K', true, true, 0, 800},
    {'k', true, true, 0, 800},     {'N', true, true, 0, 2},        {'M', true, true, 0, 30000},
    {'g', false, false, 0, 0},     {'G', false, true, 0, 48000},
};

const Letter* FindLetter(char c) {
    for (const Letter& l : kLetters)
        if (l.Name == c) return &l;
    return nullptr;
}

bool IsInit(char c) { return c == 'Z' || c == 'Y' || c == 'W'; }
bool IsValve(char c) { return c == 'I' || c == 'O' || c == 'B'; }
bool IsPlunger(char c) { return std::strchr("AaPpDd", c) != nullptr; }

}  // namespace

PumpModel::PumpModel(int typeAnswer, double syringeVolume_ul)
    : typeAnswer_(typeAnswer), syringe_ul_(syringeVolume_ul) {}

char PumpModel::StatusChar() const {
    return static_cast<char>((Busy() ? 0x40 : 0x60) | ErrorCode());
}

std::string PumpModel::Frame(char status, std::string_view data) const {
    std::string answer = "/0";
    answer += status;
    answer += data;
    answer += "\x03\r\n";
    return answer;
}

int PumpModel::Parse(std::string_view text, std::vector<Op>& ops) const {
    ops.clear();
    std::vector<size_t> open;
    bool initialisedSoFar = initialised_;
    for (size_t i = 0; i < text.size();) {
        char c = text[i++];
        const Letter* letter = FindLetter(c);
        if (!letter) return kErrInvalidCommand;
        Op op{c, false, 0};
        size_t digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            if (++digits > 6) return kErrInvalidOperand;
            op.Value = op.Value * 10 + (text[i++] - '0');
            op.HasValue = true;
        }
        if (op.HasValue && !letter->TakesValue) return kErrInvalidOperand;
        if (!op.HasValue && letter->NeedsValue) return kErrInvalidOperand;
        if (op.HasValue && (op.Value < letter->Min || op.Value > letter->Max)) return kErrInvalidOperand;
        if (IsInit(c)) initialisedSoFar = true;
        if ((IsValve(c) || IsPlunger(c)) && !initialisedSoFar) return kErrNotInitialised;
        if (c == 'g') {
            if (open.size() >= kMaxLoopDepth) return kErrSequence;
            open.push_back(ops.size());
        } else if (c == 'G') {
            if (open.empty()) return kErrSequence;
            op.Match = open.back();
            ops[open.back()].Match = ops.size();
            open.pop_back();
        }
        ops.push_back(op);
    }
    if (!open.empty()) return kErrSequence;
    return 0;
}

void PumpModel::Start(std::vector<Op> ops, const std::string& text, double now_s) {
    ops_ = std::move(ops);
    loops_.clear();
    pc_ = 0;
    inOp_ = false;
    running_ = true;
    time_s_ = now_s;
    command_ = text;
    lastRun_ = text;
    error_ = 0;
    Advance(now_s);
}

void PumpModel::Fail(int code) {
    error_ = code;
    running_ = false;
    inOp_ = false;
    loops_.clear();
}

bool PumpModel::BeginOp() {
    if (pc_ >= ops_.size()) return false;
    const Op& op = ops_[pc_];
    double duration = 0;
    auto plungerTo = [&](int64_t target) -> bool {
        if (valve_ == 'B') {
            Fail(kErrMoveNotAllowed);
            return false;
        }
        if (target < 0 || target > kStrokeSteps) {
            Fail(kErrInvalidOperand);
            return false;
        }
        moveFrom_ = position_;
        moveTo_ = static_cast<int>(target);
        int steps = std::abs(moveTo_ - moveFrom_);
        duration = steps > 0 ? steps * kStepFactor / (4.0 * speed_) + kMoveOverhead_s : 0;
        return true;
    };
    switch (op.Letter) {
        case 'Z': case 'Y': case 'W':
            moveFrom_ = position_;
            moveTo_ = 0;
            duration = kInit_s + position_ / (4.0 * 2000);
            break;
        case 'I': case 'O': case 'B':
            duration = valve_ != op.Letter ? kValveMove_s : 0;
            break;
        case 'A': case 'a':
            if (!plungerTo(op.Value)) return false;
            break;
        case 'P': case 'p':
            if (!plungerTo(position_ + op.Value)) return false;
            break;
        case 'D': case 'd':
            if (!plungerTo(position_ - op.Value)) return false;
            break;
        case 'V':
            speed_ = static_cast<int>(op.Value);
            break;
        case 'M':
            duration = op.Value / 1000.0;
            break;
        case 'g':
            loops_.push_back({pc_ + 1, -1});
            break;
        case 'G':
            duration = kLoopBack_s;
            break;
        default:  // settings without a timing effect here
            break;
    }
    opStart_s_ = time_s_;
    opEnd_s_ = time_s_ + duration;
    inOp_ = true;
    return true;
}

void PumpModel::FinishOp() {
    const Op& op = ops_[pc_];
    inOp_ = false;
    if (IsPlunger(op.Letter) || IsInit(op.Letter)) {
        if (valve_ == 'O' && moveTo_ < position_) dispensed_ul_ += (position_ - moveTo_) * syringe_ul_ / kStrokeSteps;
        position_ = moveTo_;
    }
    if (IsInit(op.Letter)) {
        initialised_ = true;
        valve_ = 'I';
    } else if (IsValve(op.Letter)) {
        valve_ = op.Letter;
    } else if (op.Letter == 'G') {
        Loop& loop = loops_.back();
        if (loop.Remaining == -1) loop.Remaining = op.HasValue && op.Value > 0 ? op.Value : -2;
        if (loop.Remaining == -2) {
            pc_ = loop.Start;
            return;
        }
        if (--loop.Remaining > 0) {
            pc_ = loop.Start;
            return;
        }
        loops_.pop_back();
    }
    ++pc_;
}

void PumpModel::Advance(double now_s) {
    // A degenerate program (an empty loop run for ever) must not hold the emulator: after this
    // many steps in one call the rest of the time is skipped.
    long guard = 20'000'000;
    while (running_) {
        if (!inOp_ && !BeginOp()) {
            running_ = false;
            break;
        }
        if (opEnd_s_ > now_s) break;
        time_s_ = opEnd_s_;
        FinishOp();
        if (--guard == 0) {
            time_s_ = now_s;
            break;
        }
    }
    if (!running_) time_s_ = std::max(time_s_, now_s);
    if (running_ && inOp_) lastNow_s_ = now_s;
    else lastNow_s_ = time_s_;
}

int PumpModel::Position() const {
    if (!(running_ && inOp_) || moveFrom_ == moveTo_) return position_;
    const Op& op = ops_[pc_];
    if (!IsPlunger(op.Letter) && !IsInit(op.Letter)) return position_;
    double span = opEnd_s_ - opStart_s_;
    double f = span > 0 ? std::clamp((lastNow_s_ - opStart_s_) / span, 0.0, 1.0) : 1.0;
    return moveFrom_ + static_cast<int>((moveTo_ - moveFrom_) * f);
}

double PumpModel::VolumeDispensed_ul() const {
    int now = Position();
    if (valve_ == 'O' && now < position_) return dispensed_ul_ + (position_ - now) * syringe_ul_ / kStrokeSteps;
    return dispensed_ul_;
}

void PumpModel::Terminate(double now_s) {
    Advance(now_s);
    if (running_ && inOp_) {
        const Op& op = ops_[pc_];
        if (IsPlunger(op.Letter)) {
            // The plunger stops where it is.
            int at = Position();
            if (valve_ == 'O' && at < position_) dispensed_ul_ += (position_ - at) * syringe_ul_ / kStrokeSteps;
            position_ = at;
        }
    }
    running_ = false;
    inOp_ = false;
    loops_.clear();
}

std::string PumpModel::Query(int64_t which, bool& ok) const {
    ok = true;
    switch (which) {
        case 0: case 4: return std::to_string(Position());
        case 1: return "900";
        case 2: return std::to_string(speed_);
        case 3: return "900";
        case 6: return std::string(1, static_cast<char>(std::tolower(valve_)));
        case 10: return stored_.empty() ? "0" : "1";
        case 22: return "255";
        case 26: return std::to_string(typeAnswer_);
        default: ok = false; return "";
    }
}

std::optional<std::string> PumpModel::Handle(std::string_view line, double now_s) {
    size_t slash = line.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    line.remove_prefix(slash);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    if (line.size() < 2 || line[1] != '1') return std::nullopt;
    ++requests_;
    std::string body(line.substr(2));
    Advance(now_s);
    auto status = [&]() { return Frame(StatusChar(), ""); };
    auto refuse = [&](int code) {
        return Frame(static_cast<char>((Busy() ? 0x40 : 0x60) | code), "");
    };

    if (body.empty() || body == "Q") return status();
    if (body[0] == '?') {
        int64_t which = 0;
        for (size_t i = 1; i < body.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(body[i])) || i > 6) return refuse(kErrInvalidOperand);
            which = which * 10 + (body[i] - '0');
        }
        bool ok;
        std::string data = Query(which, ok);
        if (!ok) return refuse(kErrInvalidOperand);
        return Frame(StatusChar(), data);
    }
    if (body[0] == 'T') {
        // Terminate acts at once, also while busy; the rest of the line is a new command.
        if (!StuckBusy) Terminate(now_s);
        body.erase(0, 1);
        if (body.empty() || body == "R") return status();
    }
    if (Busy()) return refuse(kErrBusy);
    if (body == "X" || body == "XR") {
        if (lastRun_.empty()) return refuse(kErrSequence);
        body = lastRun_ + "R";
    }
    bool execute = body.back() == 'R';
    if (execute) body.pop_back();
    if (execute && body.empty()) {
        body = stored_;
        stored_.clear();
        if (body.empty()) return status();
    }
    std::vector<Op> ops;
    if (int code = Parse(body, ops)) {
        error_ = code;
        return status();
    }
    bool initialises = std::any_of(ops.begin(), ops.end(), [](const Op& op) { return IsInit(op.Letter); });
    if (injectedError_ && !initialises) return status();
    if (!execute) {
        stored_ = body;
        error_ = 0;
        return status();
    }
    if (initialises) injectedError_ = 0;
    error_ = 0;
    // The answer tells the state in which the command found the pump: ready.
    std::string answer = status();
    Start(std::move(ops), body, now_s);
    return answer;
}

}  // namespace moirex::sim
