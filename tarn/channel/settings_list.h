// The port settings string: a NUL-terminated text of key = value pairs,
// for example 'device = COM1 baud = 9600 data = 8 parity = no stop = 1'.
//
// The tokens and pairs are those of the shared settings grammar (the channel
// dialect of serial/settings_grammar.h); CSettingsList::Parse keeps them as
// CSettingsPair objects, newest first.
#ifndef TARN_CHANNEL_SETTINGS_LIST_H
#define TARN_CHANNEL_SETTINGS_LIST_H

#include <cstdint>
#include <string_view>

namespace tarn {

// One token of a settings text, as the grammar reads it (the channel
// dialect of serial/settings_grammar.h).
struct SettingsToken {
  const char* first = nullptr;  // first byte of the token text (after an opening quote)
  uint32_t length = 0;          // bytes of token text, without quotes
  bool quoted = false;          // the token was written between double quotes
  // The unquoted one-byte token "=".
  bool IsEquals() const { return !quoted && length == 1 && *first == '='; }
};

// Reads one token starting at `cursor`. Returns where reading resumes, or
// null when only separators remain before the terminating NUL (no token).
// Never reads past the terminating NUL.
const char* ReadSettingsToken(const char* cursor, SettingsToken* token);

// One key = value pair, with own copies of both texts.
class CSettingsPair {
 public:
  CSettingsPair() = default;
  CSettingsPair(const CSettingsPair&) = delete;
  CSettingsPair& operator=(const CSettingsPair&) = delete;

  // Copy min(length + 1, size) bytes: a buffer of length + 1 bytes gets the
  // text with its terminator, a smaller one a truncated text without it.
  // Return the bytes copied; 0 when there is nothing to copy or size is 0.
  virtual uint32_t GetKey(char* buffer, uint32_t size);
  virtual uint32_t GetKeyLength();
  virtual uint32_t GetValue(char* buffer, uint32_t size);
  virtual uint32_t GetValueLength();
  virtual ~CSettingsPair();

  // Builds a pair from two texts; null when memory runs out.
  static CSettingsPair* Create(std::string_view key, std::string_view value);

  CSettingsPair* GetNext() const { return next; }
  const char* Key() const { return key; }
  const char* Value() const { return value; }

  CSettingsPair* next = nullptr;  // the pair read before this one
  char* key = nullptr;
  uint32_t keyLength = 0;
  char* value = nullptr;
  uint32_t valueLength = 0;
};

// The pairs read from one text, the most recently read first.
class CSettingsList {
 public:
  CSettingsList() = default;
  CSettingsList(const CSettingsList&) = delete;
  CSettingsList& operator=(const CSettingsList&) = delete;

  virtual ~CSettingsList();
  // Clears the list, reads `text` and returns the number of pairs. A key
  // still waiting for its value at the end is dropped. When memory for a
  // pair runs out, reading stops and the pairs read so far stay. A null
  // text gives no pairs.
  virtual uint32_t Parse(const char* text);
  // Deletes every pair.
  virtual void Clear();

  CSettingsPair* GetFirst() const { return firstPair; }
  uint32_t GetCount() const { return count; }

 private:
  CSettingsPair* firstPair = nullptr;
  uint32_t count = 0;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_SETTINGS_LIST_H
