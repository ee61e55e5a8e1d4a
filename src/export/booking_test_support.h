// The booking of the worked example, for the tests of the lines and of the
// export.
#pragma once

#include <string>

#include "export/booking_record.h"

// The booking of the worked example, with the given id, source and code.
inline BookingRecord Booking(const std::string& id, const std::string& source,
                             const std::string& code) {
  // clang-format off
  //       TID  LID  IDN Sto  Dtm               Uhr               Lfn  Art  Tas
  return {"T", "L", id, "S", "20240301000000", "20240301063015", "2", "A", "X",
  //      Era   Kze Ber  Erq Kst  Qua Res Src
          code, "", "1", "", "K", "", "", source, {}};
  // clang-format on
}
