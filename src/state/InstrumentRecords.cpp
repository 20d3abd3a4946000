#include "state/InstrumentRecords.h"

namespace moirex {

void TSerialResponse::Init() {
    SentMessage.clear();
    Response.clear();
    Status.clear();
    AsHex.clear();
    AsInt.clear();
    AsString.clear();
    rDouble = -1.0;
    ValueOfFirstWord = -1;
    ValueOfSecondWord = -1;
    ResponseLength = 0;
    AsFloat = -1.0f;
    AsInteger = -1;
}

TLUTData& TLUT::operator[](int64_t number) {
    if (InRange(number)) return tables_[static_cast<size_t>(number - First)];
    // A table number outside 2..11 must never reach memory beside the tables: it gets a fresh
    // entry that no real table shares.
    scratch_ = TLUTData{};
    return scratch_;
}

const TLUTData& TLUT::operator[](int64_t number) const {
    static const TLUTData empty{};
    if (InRange(number)) return tables_[static_cast<size_t>(number - First)];
    return empty;
}

}  // namespace moirex
