#include "state/InstrumentRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace moirex {
namespace {

TEST(SerialResponseTest, InitResetsEverythingButTheByteArrays) {
    TSerialResponse r;
    r.SentMessage = "/1QR";
    r.Response = "`";
    r.rDouble = 3.5;
    r.rArray[0] = 0x01;
    r.rArray[255] = 0xFE;
    r.WordArray[15] = 0xBEEF;
    r.ValueOfFirstWord = 258;
    r.ValueOfSecondWord = 772;
    r.Status = "Timeout";
    r.ResponseLength = 7;
    r.AsHex = "01 03 ";
    r.AsInt = "1 3 ";
    r.AsFloat = 0.0358f;
    r.AsInteger = 42;
    r.AsString = "O2";

    r.Init();

    EXPECT_TRUE(r.SentMessage.empty());
    EXPECT_TRUE(r.Response.empty());
    EXPECT_TRUE(r.Status.empty());
    EXPECT_TRUE(r.AsHex.empty());
    EXPECT_TRUE(r.AsInt.empty());
    EXPECT_TRUE(r.AsString.empty());
    EXPECT_EQ(r.rDouble, -1.0);
    EXPECT_EQ(r.AsFloat, -1.0f);
    EXPECT_EQ(r.AsInteger, -1);
    EXPECT_EQ(r.ValueOfFirstWord, -1);
    EXPECT_EQ(r.ValueOfSecondWord, -1);
    EXPECT_EQ(r.ResponseLength, 0);
    EXPECT_EQ(r.rArray[0], 0x01);
    EXPECT_EQ(r.rArray[255], 0xFE);
    EXPECT_EQ(r.WordArray[15], 0xBEEF);
}

// Fills every real table with its own number, so that any stray write shows.
TLUT NumberedTables() {
    TLUT lut;
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
        lut[k].LUTNumber = k;
        lut[k].NameShort = "gas" + std::to_string(k);
    }
    return lut;
}

void ExpectTablesUntouched(const TLUT& lut) {
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
        EXPECT_EQ(lut[k].LUTNumber, k);
        EXPECT_EQ(lut[k].NameShort, "gas" + std::to_string(k));
    }
}

TEST(LUTTest, TablesTwoToElevenAreTenSeparateEntries) {
    TLUT lut = NumberedTables();
    ExpectTablesUntouched(lut);
    lut[2].RangeMax = 0.0358f;
    lut[11].RangeMax = 0.0892f;
    EXPECT_EQ(lut[2].RangeMax, 0.0358f);
    EXPECT_EQ(lut[11].RangeMax, 0.0892f);
    for (uint32_t k = 3; k <= 10; ++k) EXPECT_EQ(lut[k].RangeMax, 0.0f);
}

TEST(LUTTest, NumberOutsideTwoToElevenTouchesNoTable) {
    const int64_t outside[] = {0, 1, 12, 13, -1, 255, std::numeric_limits<uint32_t>::max(),
                               std::numeric_limits<int64_t>::min(),
                               std::numeric_limits<int64_t>::max()};
    for (int64_t n : outside) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(TLUT::InRange(n));
        TLUT lut = NumberedTables();
        lut[n].NameShort = "stray";
        lut[n].RangeMax = 99.0f;
        ExpectTablesUntouched(lut);
        // Nothing written through a stray number can be read back as a table.
        EXPECT_TRUE(lut[n].NameShort.empty());
        const TLUT& view = lut;
        EXPECT_TRUE(view[n].NameShort.empty());
        EXPECT_EQ(view[n].RangeMax, 0.0f);
    }
}

TEST(MFCDetailsTest, ZeroedDetailsSelectNoGasTable) {
    TMFCDetails mfc;
    mfc.LUT = NumberedTables();
    EXPECT_EQ(mfc.ActiveLUT, 0u);
    const TMFCDetails& view = mfc;
    EXPECT_TRUE(view.LUT[view.ActiveLUT].NameShort.empty());
    EXPECT_EQ(view.LUT[view.ActiveLUT].RangeMax, 0.0f);
    mfc.LUT[mfc.ActiveLUT].RangeMax = 1.0f;
    ExpectTablesUntouched(mfc.LUT);

    // A copy carries its own tables.
    TMFCDetails copy = mfc;
    copy.LUT[5].NameShort = "H2";
    EXPECT_EQ(mfc.LUT[5].NameShort, "gas5");
}

}  // namespace
}  // namespace moirex
