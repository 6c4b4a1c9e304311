// CodeOf: runs a channel call and gives the code of the GeneralException it
// throws, or 0 when it returns. Header only; link th_testsupport and the
// channel (tarn_channel).
#ifndef TESTS_SUPPORT_CODE_OF_H
#define TESTS_SUPPORT_CODE_OF_H

#include <functional>

#include "tarn/channel/general_exception.h"

namespace testsupport {

inline int CodeOf(const std::function<void()>& call) {
  try {
    call();
    return 0;
  } catch (const tarn::GeneralException& e) {
    return e.GetCode();
  }
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_CODE_OF_H
