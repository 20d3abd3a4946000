#include "devices/UnitMFC.h"

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

void ReadTable(TVogtlinPort& port, TMFCDetails& d, uint32_t k, TSerialResponse& r) {
    const uint32_t a = d.ModBusAddress;
    TLUTData& t = d.LUT[k];

    r = port.ReadS50(a, mfcreg::NameCustom);
    if (!r.AsString.empty()) t.NameCustom = Trim(r.AsString);

    r = port.ReadS8(a, mfcreg::UnitType);
    if (!r.AsString.empty()) t.UnitType = Trim(r.AsString);

    r = port.ReadF32(a, mfcreg::RangeMax);
    if (r.Status.empty() && r.AsFloat > 0) {
        t.RangeMax = r.AsFloat;
        DefaultLogger().Send(TablePrefix(d, k) + " max flow:" + FormatGeneral(r.AsFloat));
    }

    r = port.ReadU16(a, mfcreg::DynamicRange);
    if (r.Status.empty() && r.AsInteger > 0)
        t.RangeDynamic = CulledRange(static_cast<uint32_t>(r.AsInteger), d.DynamicRangeCull);

    r = port.ReadS8(a, mfcreg::TotalizerUnit);
    t.TotalizerUnit = Trim(r.AsString);

    r = port.ReadF32(a, mfcreg::TotalizerScaling);
    if (r.Status.empty() && r.AsFloat > 0) t.TotalizerScaling = r.AsFloat;
    DefaultLogger().Send(TablePrefix(d, k) + " Totalizer scaling:" + FormatGeneral(r.AsFloat));

    r = port.ReadF32(a, mfcreg::DensityGPL);
    if (r.Status.empty() && r.AsFloat > 0) t.DensityGPL = r.AsFloat;

    t.RangeMin = t.RangeMax / static_cast<float>(t.RangeDynamic);
    t.Totalizer1 = 0;
}

}  // namespace

void ReadMFCDetails(TMFCDetails& d, Clock& clock) {
    auto Wait = [&clock](int64_t ms) { clock.SleepMs(ms); };
    d.Validated = false;
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) ResetTable(d.LUT[k], k);
    d.Serial = 0;

    TVogtlinPort port;
    port.UseControllerSettings(d.ComPortName);
    const uint32_t a = d.ModBusAddress;

    TSerialResponse r = port.ReadS8(a, mfcreg::TypeText);
    Wait(20);
    if (r.AsString.rfind("GSC", 0) == 0) {
        d.Validated = true;

        r = port.ReadU16(a, mfcreg::Register12);
        if (r.AsInteger > 0) {
            r = port.WriteU16(a, mfcreg::Register52, 65535);
            Wait(50);
        }

        r = port.ReadU32(a, mfcreg::SerialNumber);
        if (r.AsInteger > 0) d.Serial = static_cast<uint32_t>(r.AsInteger);
        Wait(50);

        r = port.WriteF32(a, mfcreg::SetPoint, 0.0f);
        Wait(50);

        for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
            r = port.WriteU16(a, mfcreg::TableSelector, k);
            Wait(50);
            d.ActiveLUT = k;

            r = port.ReadS8(a, mfcreg::NameShort);
            if (r.AsString.empty()) break;  // the controller holds no further tables

            TLUTData& t = d.LUT[k];
            t.NameShort = Trim(r.AsString);
            TGasItem gas;
            MakeGasItem(GasItemsFromName(t.NameShort), gas, 0.0f);
            t.NameOwn = gas.GasNameMFC;
            DefaultLogger().Send(TablePrefix(d, k) + " ID: " + r.AsString);

            ReadTable(port, d, k, r);
        }
        port.WriteU16(a, mfcreg::TableSelector, 2);
        d.ActiveLUT = 2;
        r = port.WriteU16(a, mfcreg::EndOfTableRead, 0);
    }
    d.LastResponse = r;
}

void SetActiveLUT(TMFCDetails& d, int32_t table, Clock& clock) {
    auto Wait = [&clock](int64_t ms) { clock.SleepMs(ms); };
    if (!TLUT::InRange(table)) {
        d.ActionOK = false;
        d.LastResponse.Init();
        d.LastResponse.Status = kStatusNoSuchTable;
        return;
    }
    TVogtlinPort port;
    port.UseControllerSettings(d.ComPortName);
    const uint32_t a = d.ModBusAddress;
    const auto k = static_cast<uint16_t>(table);

    port.WriteU8(a, mfcreg::ActiveTable, k);
    Wait(500);
    const TSerialResponse first = port.ReadU8(a, mfcreg::ActiveTable);

    port.WriteU8(a, mfcreg::TableSelector, k);
    Wait(500);
    const TSerialResponse second = port.ReadU8(a, mfcreg::TableSelector);

    if (first.AsInteger == table && second.AsInteger == table) {
        d.ActionOK = true;
        d.ActiveLUT = static_cast<uint32_t>(table);
    } else {
        d.ActionOK = false;
    }
    d.LastResponse = second;
}

}  // namespace moirex
