#include "tarn/channel/settings_list.h"

#include <cstring>
#include <new>

#include "serial/settings_grammar.h"

namespace tarn {
namespace {

char* CopyText(const char* text, uint32_t length) {
  char* copy = new (std::nothrow) char[static_cast<size_t>(length) + 1];
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

uint32_t CopyOut(const char* text, uint32_t length, char* buffer, uint32_t size) {
  if (text == nullptr || buffer == nullptr || size == 0) return 0;
  uint32_t n = length < size ? length + 1 : size;  // length + 1 cannot wrap: length < size
  std::memcpy(buffer, text, n);
  return n;
}

}  // namespace

const char* ReadSettingsToken(const char* cursor, SettingsToken* token) {
  std::string_view rest(cursor);
  serial::SettingsToken read;
  if (!serial::NextSettingsToken(rest, &read, serial::SettingsDialect::kChannel)) return nullptr;
  token->first = read.text.data();
  token->length = static_cast<uint32_t>(read.text.size());
  token->quoted = read.quoted;
  return rest.data();
}

CSettingsPair::~CSettingsPair() {
  delete[] key;
  delete[] value;
}

uint32_t CSettingsPair::GetKey(char* buffer, uint32_t size) {
  return CopyOut(key, keyLength, buffer, size);
}
uint32_t CSettingsPair::GetKeyLength() {
  return keyLength;
}
uint32_t CSettingsPair::GetValue(char* buffer, uint32_t size) {
  return CopyOut(value, valueLength, buffer, size);
}
uint32_t CSettingsPair::GetValueLength() {
  return valueLength;
}

CSettingsPair* CSettingsPair::Create(std::string_view keyText, std::string_view valueText) {
  CSettingsPair* pair = new (std::nothrow) CSettingsPair;
  if (pair == nullptr) return nullptr;
  pair->key = CopyText(keyText.data(), static_cast<uint32_t>(keyText.size()));
  pair->value = CopyText(valueText.data(), static_cast<uint32_t>(valueText.size()));
  if (pair->key == nullptr || pair->value == nullptr) {
    delete pair;
    return nullptr;
  }
  pair->keyLength = static_cast<uint32_t>(keyText.size());
  pair->valueLength = static_cast<uint32_t>(valueText.size());
  return pair;
}

CSettingsList::~CSettingsList() {
  Clear();
}

void CSettingsList::Clear() {
  while (firstPair != nullptr) {
    CSettingsPair* next = firstPair->next;
    delete firstPair;
    firstPair = next;
  }
  count = 0;
}

uint32_t CSettingsList::Parse(const char* text) {
  Clear();
  if (text == nullptr) return 0;
  serial::SettingsPairReader reader(text, serial::SettingsDialect::kChannel);
  serial::SettingsPair read;
  while (reader.Next(&read)) {
    CSettingsPair* pair = CSettingsPair::Create(read.key, read.value);
    if (pair == nullptr) return count;  // out of memory: keep what was read
    pair->next = firstPair;
    firstPair = pair;
    ++count;
  }
  return count;
}

}  // namespace tarn
