#include "tarn/channel/settings_list.h"

#include <cstring>
#include <new>

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
  const char* p = cursor;
  while (IsSettingsSeparator(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') return nullptr;
  if (*p == '"') {
    const char* start = ++p;
    while (*p != '\0' && *p != '"') ++p;
    token->first = start;
    token->length = static_cast<uint32_t>(p - start);
    token->quoted = true;
    return *p == '"' ? p + 1 : p;  // an unclosed quote ends at the terminator
  }
  token->first = p;
  token->quoted = false;
  if (*p == '=') {
    token->length = 1;
    return p + 1;
  }
  const char* start = p;
  while (*p != '\0' && *p != '"' && *p != '=' &&
         !IsSettingsSeparator(static_cast<unsigned char>(*p)))
    ++p;
  token->length = static_cast<uint32_t>(p - start);
  return p;
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

CSettingsPair* CSettingsPair::Create(const SettingsToken& keyToken,
                                     const SettingsToken& valueToken) {
  CSettingsPair* pair = new (std::nothrow) CSettingsPair;
  if (pair == nullptr) return nullptr;
  pair->key = CopyText(keyToken.first, keyToken.length);
  pair->value = CopyText(valueToken.first, valueToken.length);
  if (pair->key == nullptr || pair->value == nullptr) {
    delete pair;
    return nullptr;
  }
  pair->keyLength = keyToken.length;
  pair->valueLength = valueToken.length;
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
  enum { kWantKey, kHaveKey, kWantValue } state = kWantKey;
  SettingsToken key;
  SettingsToken token;
  const char* cursor = text;
  while ((cursor = ReadSettingsToken(cursor, &token)) != nullptr) {
    switch (state) {
      case kWantKey:
        if (!token.IsEquals()) {
          key = token;
          state = kHaveKey;
        }
        break;
      case kHaveKey:
        if (token.IsEquals())
          state = kWantValue;
        else
          key = token;  // the earlier token had no value: dropped
        break;
      case kWantValue:
        if (token.IsEquals()) break;  // several equals signs count as one
        CSettingsPair* pair = CSettingsPair::Create(key, token);
        if (pair == nullptr) return count;  // out of memory: keep what was read
        pair->next = firstPair;
        firstPair = pair;
        ++count;
        state = kWantKey;
        break;
    }
  }
  return count;
}

}  // namespace tarn
