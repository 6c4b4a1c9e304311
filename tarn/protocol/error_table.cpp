#include "tarn/protocol/error_table.h"

namespace tarn {

const ErrorEntry kErrorTable[kErrorCount] = {
    {TARN_ERROR_OK, "OK"},
    {TARN_ERROR_UNHANDLED_EXCEPTION, "Unhandled exception"},
    {TARN_ERROR_UNHANDLED_TIMEOUT, "Unhandled timeout"},
    {TARN_ERROR_CANT_OPEN_PORT, "Can't open serial port"},
    {TARN_ERROR_INTERNAL, "Internal error"},
    {TARN_ERROR_SYSTEM, "System error"},
    {TARN_ERROR_CANT_CLOSE_PORT, "Can't close serial port"},
    {TARN_ERROR_CANT_INITIALIZE, "Can't initialize download server"},
    {TARN_ERROR_COM_PORT, "Undefined COM port error"},
    {TARN_ERROR_UNSUPPORTED_PAGER, "Unsupported pager."},
    {TARN_ERROR_NO_ANSWER, "There is no answer from pager"},
    {TARN_ERROR_PAGER_DISABLED, "Pager disabled. Operation canceled."},
    {TARN_ERROR_WRONG_PASSWORD, "Wrong Download password!"},
    {TARN_ERROR_PASSWORD_REQUIRED, "Download password required"},
    {TARN_ERROR_SENDING_DATA,
     "There was an error while sending data to a pager. Operation canceled."},
};

const ErrorEntry& LookupError(int32_t index) {
  if (index < 0 || index >= kErrorCount) return kErrorTable[kErrorInternal];
  return kErrorTable[index];
}

}  // namespace tarn
