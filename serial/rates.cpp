#include "serial/rates.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace serial {
namespace {

#define TH_SERIAL_RATE(rate) rate,
constexpr uint32_t kRates[] = {TH_SERIAL_TERMIOS_RATES(TH_SERIAL_RATE) 14400,
                               TH_SERIAL_FAST_RATES(TH_SERIAL_RATE)};
#undef TH_SERIAL_RATE

constexpr auto kSorted = [] {
  std::array<uint32_t, std::size(kRates)> sorted{};
  std::copy(std::begin(kRates), std::end(kRates), sorted.begin());
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}();

}  // namespace

std::span<const uint32_t> StandardRates() {
  return kSorted;
}

bool IsStandardRate(uint32_t rate) {
  return std::binary_search(kSorted.begin(), kSorted.end(), rate);
}

}  // namespace serial
