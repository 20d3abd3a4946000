#include "devices/UnitMFC.h"

#include <cstdio>
#include <functional>
#include <string>

#include "devices/SerialPortVogtlin.h"
#include "state/GasMixtures.h"
#include "support/Clock.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// The entry before reading: the controller may no longer hold this table. NameOwn and
// TotalizerUnit keep what they held.
void ResetTable(TLUTData& t, uint32_t number) {
    t.LUTNumber = number;
    t.NameShort.clear();
    t.NameCustom.clear();
    t.AtomicMass = 0;
    t.DensityGPL = 0;
    t.UnitType.clear();
    t.RangeMax = 0;
    t.RangeDynamic = 1;
    t.RangeMin = 1.0f;
    t.Totalizer1 = 0;
    t.TotalizerScaling = 0;
}

std::string TablePrefix(const TMFCDetails& d, uint32_t k) { return d.ComPortName + " LUT " + std::to_string(k); }

// The usable dynamic range: the controller's less the cull. A range at or below the cull leaves
// nothing to cull; the table can then only be held at full scale (lower flows are pulsed).
uint32_t CulledRange(uint32_t range, int32_t cull) {
    const int64_t culled = static_cast<int64_t>(range) - cull;
    if (culled < 1) {
        DefaultLogger().Send("MFC dynamic range of " + std::to_string(range) + " too small to cull by " +
                             std::to_string(cull) + " units, using 1");
        return 1;
    }
    DefaultLogger().Send("MFC dynamic range culled by " + std::to_string(cull) + " units");
    return static_cast<uint32_t>(culled);
}

std::string Register(uint32_t reg) {
    char text[16];
    std::snprintf(text, sizeof text, reg > 0xFF ? "0x%04X" : "%u", reg);
    return text;
}

// The steps of one routine on one controller: each exchange checked, a failed one tried again,
// the first step that keeps failing remembered with its reason.
class TSteps {
public:
    TSteps(TVogtlinPort& port, uint32_t address, Clock& clock, TSerialResponse& last)
        : port_(port), address_(address), clock_(clock), last_(last) {}

    using Exchange = std::function<TSerialResponse(TVogtlinPort&, uint32_t address)>;
    // What is wrong with an answer that came back well (empty: nothing).
    using Check = std::function<std::string(const TSerialResponse&)>;

    // Runs `exchange` until its answer is good and passes `check`, at most kMFCStepTries times.
    // False when it never did; Failure() then says which step and why.
    bool Run(const std::string& what, const Exchange& exchange, const Check& check = {}, int64_t pauseMs = 0) {
        std::string why;
        for (int attempt = 1; attempt <= kMFCStepTries; ++attempt) {
            last_ = exchange(port_, address_);
            if (pauseMs > 0) clock_.SleepMs(pauseMs);
            why = last_.Status;
            if (why.empty() && check) why = check(last_);
            if (why.empty()) return true;
            DefaultLogger().Send(port_.Port() + " " + what + ": " + why + " (try " + std::to_string(attempt) + ")");
            clock_.SleepMs(kRetryPauseMs);
        }
        failure_ = what + ": " + why + " (" + std::to_string(kMFCStepTries) + " tries)";
        return false;
    }

    bool Read(const std::string& what, TSerialResponse (TVogtlinPort::*read)(uint32_t, uint32_t), uint32_t reg,
              const Check& check = {}) {
        return Run(what + " (register " + Register(reg) + ")",
                   [&](TVogtlinPort& p, uint32_t a) { return (p.*read)(a, reg); }, check);
    }

    // A gas table selected and confirmed by reading the selector back.
    bool Select(uint32_t k, int64_t pauseMs) {
        const std::string what = "gas table " + std::to_string(k) + " select (register " +
                                 Register(mfcreg::TableSelector) + ")";
        return Run(what, [&](TVogtlinPort& p, uint32_t a) {
            TSerialResponse w = p.WriteU16(a, mfcreg::TableSelector, k);
            if (!w.Status.empty()) return w;
            clock_.SleepMs(pauseMs);
            return p.ReadU8(a, mfcreg::TableSelector);
        }, ReadsBack(k));
    }

    static Check ReadsBack(uint32_t k) {
        return [k](const TSerialResponse& r) -> std::string {
            if (r.AsInteger == static_cast<int32_t>(k)) return {};
            return "read back " + std::to_string(r.AsInteger) + " instead of " + std::to_string(k);
        };
    }

    const std::string& Failure() const { return failure_; }

private:
    static constexpr int64_t kRetryPauseMs = 50;
    TVogtlinPort& port_;
    uint32_t address_;
    Clock& clock_;
    TSerialResponse& last_;
    std::string failure_;
};

bool ReadTable(TSteps& steps, TMFCDetails& d, uint32_t k) {
    TLUTData& t = d.LUT[k];
    const std::string table = "gas table " + std::to_string(k) + " ";
    TSerialResponse r;
    auto keep = [&r](const TSerialResponse& answer) {
        r = answer;
        return std::string();
    };

    if (!steps.Read(table + "custom name", &TVogtlinPort::ReadS50, mfcreg::NameCustom, keep)) return false;
    if (!r.AsString.empty()) t.NameCustom = Trim(r.AsString);

    if (!steps.Read(table + "unit", &TVogtlinPort::ReadS8, mfcreg::UnitType, keep)) return false;
    if (!r.AsString.empty()) t.UnitType = Trim(r.AsString);

    if (!steps.Read(table + "range", &TVogtlinPort::ReadF32, mfcreg::RangeMax, keep)) return false;
    if (r.AsFloat > 0) {
        t.RangeMax = r.AsFloat;
        DefaultLogger().Send(TablePrefix(d, k) + " max flow:" + FormatGeneral(r.AsFloat));
    }

    if (!steps.Read(table + "dynamic range", &TVogtlinPort::ReadU16, mfcreg::DynamicRange, keep)) return false;
    if (r.AsInteger > 0) t.RangeDynamic = CulledRange(static_cast<uint32_t>(r.AsInteger), d.DynamicRangeCull);

    if (!steps.Read(table + "totalizer unit", &TVogtlinPort::ReadS8, mfcreg::TotalizerUnit, keep)) return false;
    t.TotalizerUnit = Trim(r.AsString);

    if (!steps.Read(table + "totalizer scaling", &TVogtlinPort::ReadF32, mfcreg::TotalizerScaling, keep))
        return false;
    if (r.AsFloat > 0) t.TotalizerScaling = r.AsFloat;
    DefaultLogger().Send(TablePrefix(d, k) + " Totalizer scaling:" + FormatGeneral(r.AsFloat));

    if (!steps.Read(table + "density", &TVogtlinPort::ReadF32, mfcreg::DensityGPL, keep)) return false;
    if (r.AsFloat > 0) t.DensityGPL = r.AsFloat;

    t.RangeMin = t.RangeMax / static_cast<float>(t.RangeDynamic);
    t.Totalizer1 = 0;
    return true;
}

// Everything after the type check; false at the first step that keeps failing.
bool ReadValidatedController(TSteps& steps, TMFCDetails& d, Clock& clock) {
    TSerialResponse r;
    auto keep = [&r](const TSerialResponse& answer) {
        r = answer;
        return std::string();
    };
    auto write = [&](const std::string& what, uint32_t reg, auto value, auto writer) {
        return steps.Run(what + " (register " + Register(reg) + ")",
                         [&](TVogtlinPort& p, uint32_t a) { return (p.*writer)(a, reg, value); });
    };

    if (!steps.Read("register 12 read", &TVogtlinPort::ReadU16, mfcreg::Register12, keep)) return false;
    if (r.AsInteger > 0) {
        if (!write("register 52 write", mfcreg::Register52, 65535u, &TVogtlinPort::WriteU16)) return false;
        clock.SleepMs(50);
    }

    if (!steps.Read("serial number read", &TVogtlinPort::ReadU32, mfcreg::SerialNumber, keep)) return false;
    if (r.AsInteger > 0) d.Serial = static_cast<uint32_t>(r.AsInteger);
    clock.SleepMs(50);

    if (!write("set-point write", mfcreg::SetPoint, 0.0f, &TVogtlinPort::WriteF32)) return false;
    clock.SleepMs(50);

    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
        if (!steps.Select(k, 50)) return false;
        d.ActiveLUT = k;

        // Only a name that was read and is empty ends the list; a failed read is no end.
        if (!steps.Read("gas table " + std::to_string(k) + " name", &TVogtlinPort::ReadS8, mfcreg::NameShort, keep))
            return false;
        if (r.AsString.empty()) break;  // the controller holds no further tables

        TLUTData& t = d.LUT[k];
        t.NameShort = Trim(r.AsString);
        TGasItem gas;
        MakeGasItem(GasItemsFromName(t.NameShort), gas, 0.0f);
        t.NameOwn = gas.GasNameMFC;
        DefaultLogger().Send(TablePrefix(d, k) + " ID: " + r.AsString);

        if (!ReadTable(steps, d, k)) return false;
    }
    if (!steps.Select(2, 0)) return false;
    d.ActiveLUT = 2;
    return write("end of the table read (register " + Register(mfcreg::EndOfTableRead) + ")",
                 mfcreg::EndOfTableRead, 0u, &TVogtlinPort::WriteU16);
}

}  // namespace

std::string ReadMFCDetails(TMFCDetails& d, Clock& clock) {
    d.Validated = false;
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) ResetTable(d.LUT[k], k);
    d.Serial = 0;

    TVogtlinPort port;
    port.UseControllerSettings(d.ComPortName);
    TSteps steps(port, d.ModBusAddress, clock, d.LastResponse);

    std::string type;
    const bool typeRead = steps.Read("type read", &TVogtlinPort::ReadS8, mfcreg::TypeText,
                                     [&type](const TSerialResponse& r) {
                                         type = r.AsString;
                                         return std::string();
                                     });
    clock.SleepMs(20);
    if (!typeRead) return steps.Failure();
    if (type.rfind("GSC", 0) != 0) return "type read (register 35): \"" + type + "\" is no GSC controller";

    if (ReadValidatedController(steps, d, clock)) {
        d.Validated = true;
        return {};
    }
    // No half-read gas table stays behind to be chosen from.
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) ResetTable(d.LUT[k], k);
    d.ActiveLUT = 0;
    return steps.Failure();
}

std::string SetActiveLUT(TMFCDetails& d, int32_t table, Clock& clock) {
    d.ActionOK = false;
    if (!TLUT::InRange(table)) {
        d.LastResponse.Init();
        d.LastResponse.Status = kStatusNoSuchTable;
        return kStatusNoSuchTable;
    }
    TVogtlinPort port;
    port.UseControllerSettings(d.ComPortName);
    TSteps steps(port, d.ModBusAddress, clock, d.LastResponse);
    const auto k = static_cast<uint16_t>(table);

    // Each switch is written, given its 500 ms, and read back; a refusal by the controller comes
    // back as its exception.
    auto switchTo = [&](const std::string& what, uint32_t reg) {
        return steps.Run(what + " (register " + Register(reg) + ")", [&](TVogtlinPort& p, uint32_t a) {
            TSerialResponse w = p.WriteU8(a, reg, k);
            if (!w.Status.empty()) return w;
            clock.SleepMs(500);
            return p.ReadU8(a, reg);
        }, TSteps::ReadsBack(k));
    };
    if (!switchTo("active gas table " + std::to_string(k), mfcreg::ActiveTable) ||
        !switchTo("gas table " + std::to_string(k) + " select", mfcreg::TableSelector))
        return steps.Failure();
    d.ActionOK = true;
    d.ActiveLUT = static_cast<uint32_t>(table);
    return {};
}

}  // namespace moirex
