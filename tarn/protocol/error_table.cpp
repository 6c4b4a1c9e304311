#include "tarn/protocol/error_table.h"

namespace tarn {

const ErrorEntry kErrorTable[kErrorCount] = {
    {1, "OK"},
    {2, "Unhandled exception"},
    {3, "Unhandled timeout"},
    {4, "Can't open serial port"},
    {5, "Internal error"},
    {6, "System error"},
    {7, "Can't close serial port"},
    {8, "Can't initialize download server"},
    {9, "Undefined COM port error"},
    {10, "Unsupported pager."},
    {11, "There is no answer from pager"},
    {12, "Pager disabled. Operation canceled."},
    {13, "Wrong Download password!"},
    {14, "Download password required"},
    {16, "There was an error while sending data to a pager. Operation canceled."},
};

const ErrorEntry& LookupError(int32_t index) {
  if (index < 0 || index >= kErrorCount) return kErrorTable[kErrorInternal];
  return kErrorTable[index];
}

}  // namespace tarn
