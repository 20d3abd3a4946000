#pragma once
// Plain value records of the instruments: the outcome of one serial exchange, one mass flow
// controller and its gas tables (numbered 2 to 11).

#include <array>
#include <cstdint>
#include <string>

namespace moirex {

struct TSerialResponse {
    std::string SentMessage;
    std::string Response;
    double rDouble = 0;
    std::array<uint8_t, 256> rArray{};
    std::array<uint16_t, 16> WordArray{};
    int32_t ValueOfFirstWord = 0;
    int32_t ValueOfSecondWord = 0;
    std::string Status;  // empty: success
    uint8_t ResponseLength = 0;
    std::string AsHex;
    std::string AsInt;
    float AsFloat = 0;
    int32_t AsInteger = 0;
    std::string AsString;

    // Texts emptied, rDouble and AsFloat -1.0, the integers -1, ResponseLength 0; rArray and
    // WordArray keep what they held.
    void Init();
};

struct TLUTData {
    uint32_t LUTNumber = 0;
    std::string NameShort;
    std::string NameCustom;
    std::string NameOwn;
    float AtomicMass = 0;
    float DensityGPL = 0;
    std::string UnitType;
    float RangeMax = 0;
    uint32_t RangeDynamic = 0;
    float RangeMin = 0;
    float Totalizer1 = 0;
    std::string TotalizerUnit;
    float TotalizerScaling = 0;
};

// The ten gas tables of a controller, indexed by table number 2 to 11. An index outside that
// range reaches no table: reads give an empty entry, writes go to a scratch entry.
class TLUT {
public:
    static constexpr uint32_t First = 2;
    static constexpr uint32_t Last = 11;
    static bool InRange(int64_t number) { return number >= First && number <= Last; }

    TLUTData& operator[](int64_t number);
    const TLUTData& operator[](int64_t number) const;

private:
    std::array<TLUTData, 10> tables_{};
    TLUTData scratch_{};
};

struct TMFCDetails {
    std::string ComPortName;
    std::string MFCName;
    uint32_t ModBusAddress = 0;
    bool Validated = false;
    bool ActionOK = false;
    TSerialResponse LastResponse;
    uint32_t ActiveLUT = 0;  // 2..11; 0 while no gas is chosen
    TLUT LUT;
    double CurrentMaxFlow = 0;
    double CurrentDesiredFlow = 0;
    double CurrentSetFlow = 0;
    double CurrentObservedFlow = 0;
    int32_t DynamicRangeCull = 0;
    uint32_t Serial = 0;
};

}  // namespace moirex
