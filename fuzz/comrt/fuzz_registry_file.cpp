// The registry file parser: any bytes are either refused or parsed into a
// tree whose written form parses back to the same written form.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comrt/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  comrt::reg::Tree tree;
  if (!comrt::reg::Parse(text, tree)) return 0;
  const std::string written = comrt::reg::Serialize(tree);
  comrt::reg::Tree again;
  if (!comrt::reg::Parse(written, again)) std::abort();
  if (comrt::reg::Serialize(again) != written) std::abort();
  return 0;
}
