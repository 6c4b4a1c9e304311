// The download server's error table: an error index (the value kept in
// `lastError`) names one entry, whose reported code and fixed English text
// are what the client reads. The table is complete and never changes. The
// reported codes are the public ones of <tarnholm/tarn_errors.h>; the indexes
// stay inside the library.
#ifndef TARN_PROTOCOL_ERROR_TABLE_H
#define TARN_PROTOCOL_ERROR_TABLE_H

#include <tarnholm/tarn_errors.h>

#include <cstdint>

namespace tarn {

struct ErrorEntry {
  int32_t code;      // the reported code
  const char* text;  // static, NUL-terminated, owned by the library
};

// Error indexes by name.
enum ErrorIndex : int32_t {
  kErrorOk = 0,
  kErrorUnhandledException = 1,
  kErrorUnhandledTimeout = 2,
  kErrorCantOpenPort = 3,
  kErrorInternal = 4,
  kErrorSystem = 5,
  kErrorCantClosePort = 6,
  kErrorCantInitialize = 7,
  kErrorComPort = 8,
  kErrorUnsupportedPager = 9,
  kErrorNoAnswer = 10,
  kErrorPagerDisabled = 11,
  kErrorWrongPassword = 12,
  kErrorPasswordRequired = 13,
  kErrorSendingData = 14,
};

inline constexpr int32_t kErrorCount = 15;

// Indexed by error index. Codes are index + 1, except index 14, which
// reports 16 (no index reports 15).
extern const ErrorEntry kErrorTable[kErrorCount];

// The entry for an error index. Only the library stores indexes, so every
// stored one is in the table; an index outside it (a corrupted object) is
// answered with the "Internal error" entry rather than a read past the
// table's end.
const ErrorEntry& LookupError(int32_t index);

}  // namespace tarn

#endif  // TARN_PROTOCOL_ERROR_TABLE_H
