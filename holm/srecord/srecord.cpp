#include "holm/srecord/srecord.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "holm/srecord/image_file.h"

namespace holm {

namespace {

// ---------------------------------------------------------------- hex tables

struct HexTables {
  std::array<std::array<char, 2>, 256> pair{};  // "00".."FF"
  std::array<int8_t, 256> value{};              // digit value, or -1
  constexpr HexTables() {
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      pair[i] = {digits[i >> 4], digits[i & 15]};
      value[i] = -1;
    }
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['A' + i] = static_cast<int8_t>(10 + i);
      value['a' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
constexpr HexTables kHex;

bool IsSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Two characters read as a base-16 integer conversion reads them: leading
// white space and a sign are accepted, the digits stop at the first
// character that is not one; the low 8 bits of the result.
inline uint8_t PairValue(unsigned char c0, unsigned char c1) {
  int h0 = kHex.value[c0];
  int h1 = kHex.value[c1];
  if (h0 >= 0) return static_cast<uint8_t>(h1 >= 0 ? h0 * 16 + h1 : h0);
  if (h1 < 0) return 0;
  if (IsSpace(c0) || c0 == '+') return static_cast<uint8_t>(h1);
  if (c0 == '-') return static_cast<uint8_t>(-h1);
  return 0;
}

inline uint8_t ByteAt(std::string_view body, size_t n) {
  return PairValue(static_cast<unsigned char>(body[2 * n]),
                   static_cast<unsigned char>(body[2 * n + 1]));
}

bool IsEmptyHeaderBody(std::string_view body) {
  return body.size() == 4 && body[0] == '0' && body[1] == '1' && (body[2] | 0x20) == 'f' &&
         (body[3] | 0x20) == 'e';
}

// Stores the data bytes body[first .. last] from buffer[offset] on, keeping
// inside [0, size); returns their 8-bit sum.
uint8_t StoreBytes(std::string_view body, size_t first, size_t last, int64_t offset,
                   uint8_t* buffer, int32_t size) {
  unsigned sum = 0;
  const int64_t limit = buffer ? size : 0;
  for (size_t i = first; i < last; ++i, ++offset) {
    uint8_t b = ByteAt(body, i);
    if (offset >= 0 && offset < limit) buffer[offset] = b;
    sum += b;
  }
  return static_cast<uint8_t>(sum);
}

int32_t NonNegative(int32_t n) {
  return n < 0 ? 0 : n;
}

// ---------------------------------------------------------------- output

// Record text goes through a large buffer into a replacing file.
class RecordOutput {
 public:
  static constexpr size_t kCapacity = size_t{1} << 20;

  explicit RecordOutput(const std::string& target) : buffer_(new char[kCapacity]), file_(target) {}

  // Room for n (<= kCapacity) characters; Advance(n) keeps them.
  char* Space(size_t n) {
    if (kCapacity - used_ < n) Flush();
    return buffer_.get() + used_;
  }
  void Advance(size_t n) { used_ += n; }

  void Put(std::string_view s) {
    if (s.size() > kCapacity - used_) {
      Flush();
      if (s.size() > kCapacity) {
        file_.Write(s.data(), s.size());
        return;
      }
    }
    std::memcpy(buffer_.get() + used_, s.data(), s.size());
    used_ += s.size();
  }

  void Finish() {
    Flush();
    file_.Commit();
  }

 private:
  void Flush() {
    if (used_) file_.Write(buffer_.get(), used_);
    used_ = 0;
  }

  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  ReplacingFile file_;
};

// The same interface on a string, for BuildRecord.
class StringSink {
 public:
  explicit StringSink(std::string& s) : s_(s) {}
  char* Space(size_t n) {
    size_t old = s_.size();
    s_.resize(old + n);
    reserved_ = n;
    return s_.data() + old;
  }
  void Advance(size_t n) { s_.resize(s_.size() - reserved_ + n); }
  void Put(std::string_view s) { s_.append(s); }

 private:
  std::string& s_;
  size_t reserved_ = 0;
};

inline char* PutHex(char* p, uint8_t b) {
  p[0] = kHex.pair[b][0];
  p[1] = kHex.pair[b][1];
  return p + 2;
}

bool IsHeaderType(std::string_view type) {
  return type.size() == 2 && (type[0] == 'S' || type[0] == 's') && type[1] == '0';
}

// One record: type, count, address (none for S0), bytes, checksum, lineEnd.
template <class Sink>
void EmitRecord(Sink& out, std::string_view type, uint32_t address, const uint8_t* bytes,
                size_t length, std::string_view lineEnd) {
  const bool withAddress = !IsHeaderType(type);
  const uint8_t count = static_cast<uint8_t>((withAddress ? 2 : 0) + length + 1);
  out.Put(type);
  char* p = out.Space(6);
  char* start = p;
  p = PutHex(p, count);
  unsigned sum = count;
  if (withAddress) {
    uint8_t high = static_cast<uint8_t>((address & 0xFFFF) >> 8);
    uint8_t low = static_cast<uint8_t>(address & 0xFF);
    p = PutHex(p, high);
    p = PutHex(p, low);
    sum += high + low;
  }
  out.Advance(static_cast<size_t>(p - start));
  constexpr size_t kChunk = 16 * 1024;
  while (length > 0) {
    size_t n = length < kChunk ? length : kChunk;
    p = out.Space(2 * n);
    for (size_t i = 0; i < n; ++i) {
      p = PutHex(p, bytes[i]);
      sum += bytes[i];
    }
    out.Advance(2 * n);
    bytes += n;
    length -= n;
  }
  p = out.Space(2);
  PutHex(p, static_cast<uint8_t>(~sum & 0xFF));
  out.Advance(2);
  out.Put(lineEnd);
}

// Free text with every line feed written as the platform's line end.
void PutText(RecordOutput& out, std::string_view text) {
  if (kLineEnd == "\n") {
    out.Put(text);
    return;
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      out.Put(text.substr(start, i - start));
      out.Put(kLineEnd);
      start = i + 1;
    }
  }
  out.Put(text.substr(start));
}

// S1 records of 16 bytes, the last one with the remainder.
void PutDataRecords(RecordOutput& out, int32_t baseAddress, const uint8_t* data,
                    int32_t dataLength) {
  const size_t length = static_cast<size_t>(NonNegative(dataLength));
  const size_t whole = length & ~size_t{15};
  size_t offset = 0;
  for (; offset < whole; offset += 16)
    EmitRecord(out, "S1", static_cast<uint32_t>(baseAddress) + static_cast<uint32_t>(offset),
               data + offset, 16, kLineEnd);
  if (offset < length)
    EmitRecord(out, "S1", static_cast<uint32_t>(baseAddress) + static_cast<uint32_t>(offset),
               data + offset, length - offset, kLineEnd);
}

void CheckBuffer(const void* buffer, int32_t size, const char* what) {
  if (!buffer && size > 0) throw S19BadArgument(std::string("null ") + what + " buffer");
}

// ---------------------------------------------------------------- input

// Splits a file into lines at line feeds, dropping the line feed and a CR
// before it. Lines may be of any length; a line that fits in the chunk
// buffer is handed out without copying.
class LineReader {
 public:
  // Small files get a small buffer; the first full chunk switches to the
  // large one.
  static constexpr size_t kFirstChunk = size_t{64} << 10;
  static constexpr size_t kChunk = size_t{1} << 20;

  explicit LineReader(const std::string& name)
      : file_(name), buffer_(new char[kFirstChunk]), capacity_(kFirstChunk) {}

  // The next line, valid until the next call; false at the end of the file.
  bool Next(std::string_view& line) {
    carry_.clear();
    bool carrying = false;
    for (;;) {
      if (pos_ < end_) {
        const char* from = buffer_.get() + pos_;
        const void* lf = std::memchr(from, '\n', end_ - pos_);
        if (lf) {
          const char* stop = static_cast<const char*>(lf);
          pos_ = static_cast<size_t>(stop - buffer_.get()) + 1;
          if (carrying) {
            carry_.append(from, stop);
            line = carry_;
          } else {
            line = std::string_view(from, static_cast<size_t>(stop - from));
          }
          if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
          return true;
        }
        carry_.append(from, end_ - pos_);
        carrying = true;
        pos_ = end_;
      }
      if (eof_) break;
      // Nothing points into the buffer here: a partial line is in carry_.
      if (end_ == capacity_ && capacity_ < kChunk) {
        buffer_.reset(new char[kChunk]);
        capacity_ = kChunk;
      }
      pos_ = 0;
      end_ = file_.Read(buffer_.get(), capacity_);
      if (end_ == 0) eof_ = true;
    }
    // The last line of a file that does not end with a line feed.
    if (!carrying) return false;
    line = carry_;
    return true;
  }

 private:
  InputFile file_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  std::string carry_;
};

}  // namespace

// ---------------------------------------------------------------- records

std::string BuildRecord(std::string_view type, uint32_t address, const uint8_t* bytes,
                        size_t length, std::string_view lineEnd) {
  std::string s;
  s.reserve(type.size() + 8 + 2 * length + lineEnd.size());
  StringSink sink(s);
  EmitRecord(sink, type, address, bytes, length, lineEnd);
  return s;
}

std::string_view RecordBody(std::string_view line) {
  if (!line.empty() && line[0] == 'S') line.remove_prefix(line.size() < 2 ? line.size() : 2);
  while (!line.empty() && !IsAlnum(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
  return line;
}

uint8_t RecordByte(std::string_view body, size_t n) {
  auto at = [&](size_t i) -> unsigned char {
    return i < body.size() ? static_cast<unsigned char>(body[i]) : 0;
  };
  if (n > body.size() / 2) return 0;
  return PairValue(at(2 * n), at(2 * n + 1));
}

void LoadRecord(std::string_view line, int32_t base, uint8_t* buffer, int32_t size) {
  const std::string_view body = RecordBody(line);
  if (body.size() < 4 || body.size() % 2 != 0) throw S19Damaged();
  const size_t n = body.size() / 2;
  const uint8_t count = ByteAt(body, 0);
  if (count != n - 1) throw S19Damaged();
  if (IsEmptyHeaderBody(body)) return;
  if (count < 3) throw S19Damaged();
  const uint8_t high = ByteAt(body, 1);
  const uint8_t low = ByteAt(body, 2);
  const int64_t offset = int64_t{high} * 256 + low - base;
  uint8_t sum = static_cast<uint8_t>(count + high + low);
  sum = static_cast<uint8_t>(sum + StoreBytes(body, 3, count, offset, buffer, size));
  if (static_cast<uint8_t>(~ByteAt(body, count)) != sum) throw S19Damaged();
}

RecordStatus ScanRecord(std::string_view line, int32_t base, uint8_t* buffer, int32_t size,
                        uint16_t* addressOut, uint8_t* countOut) {
  if (addressOut) *addressOut = 0;
  if (countOut) *countOut = 0;
  const std::string_view body = RecordBody(line);
  if (body.size() < 4 || body.size() % 2 != 0) return RecordMalformed;
  const size_t n = body.size() / 2;
  const uint8_t count = ByteAt(body, 0);
  if (countOut) *countOut = count;
  if (count != n - 1) return RecordMalformed;
  if (IsEmptyHeaderBody(body)) return RecordOk;
  if (count < 3) return RecordMalformed;
  uint8_t sum;
  if (line.size() > 1 && line[1] == '0') {
    // S0: no address field; the data go from the start of the buffer.
    sum = static_cast<uint8_t>(count + StoreBytes(body, 1, count, 0, buffer, size));
  } else {
    const uint8_t high = ByteAt(body, 1);
    const uint8_t low = ByteAt(body, 2);
    const uint16_t address = static_cast<uint16_t>(high * 256 + low);
    if (addressOut) *addressOut = address;
    sum = static_cast<uint8_t>(count + high + low +
                               StoreBytes(body, 3, count, int64_t{address} - base, buffer, size));
  }
  return static_cast<uint8_t>(~ByteAt(body, count)) != sum ? RecordChecksumError : RecordOk;
}

// ---------------------------------------------------------------- files

void WriteImageFile(const std::string& fileName, std::string_view text, int32_t baseAddress,
                    const uint8_t* header, int32_t headerLength, const uint8_t* data,
                    int32_t dataLength) {
  CheckBuffer(header, headerLength, "header");
  CheckBuffer(data, dataLength, "data");
  RecordOutput out(fileName);
  PutText(out, text);
  out.Put(kLineEnd);
  EmitRecord(out, "S0", 0, header, static_cast<size_t>(NonNegative(headerLength)), kLineEnd);
  PutDataRecords(out, baseAddress, data, dataLength);
  out.Put(kEndRecord);
  out.Finish();
}

void ReadImageFile(const std::string& fileName,
                   const std::function<void(std::string_view)>& storeText, int32_t baseAddress,
                   uint8_t* header, int32_t headerSize, uint8_t* data, int32_t dataSize) {
  CheckBuffer(header, headerSize, "header");
  CheckBuffer(data, dataSize, "data");
  LineReader reader(fileName);
  std::string_view line;
  // Every line before the S0 line is text, except that a last empty line
  // before it is dropped (the one the writer adds after a text that already
  // ends with a line end).
  std::string text;
  std::string previous;
  std::string headerLine;
  for (;;) {
    if (!reader.Next(line)) throw S19Damaged();
    if (line.size() >= 5 && line[0] == 'S' && line[1] == '0') {
      headerLine.assign(line);
      break;
    }
    text += previous;
    previous.assign(line);
    previous += '\n';
  }
  if (previous != "\n") text += previous;
  storeText(text);
  LoadRecord(headerLine, 0, header, headerSize);
  for (;;) {
    if (!reader.Next(line)) throw S19Damaged();
    if (line.size() >= 2 && line[0] == 'S' && line[1] == '9') break;
    LoadRecord(line, baseAddress, data, dataSize);
  }
  LoadRecord(line, 0, data, dataSize);
}

void WriteImageFileEx(const std::string& fileName, std::string_view text, const ImageDesc& desc,
                      const FileInfo& options) {
  if (options.HasHeader) CheckBuffer(desc.Header, desc.HeaderSize, "header");
  if (options.HasData) CheckBuffer(desc.Data, desc.DataSize, "data");
  RecordOutput out(fileName);
  if (!text.empty()) {
    PutText(out, text);
    if (text.back() != '\n') out.Put(kLineEnd);
  }
  if (options.HasHeader)
    EmitRecord(out, "S0", 0, desc.Header, static_cast<size_t>(NonNegative(desc.HeaderSize)),
               kLineEnd);
  if (options.HasData) PutDataRecords(out, desc.BaseAddress, desc.Data, desc.DataSize);
  if (options.HasEnd) out.Put(kEndRecord);
  out.Finish();
}

void ReadImageFileEx(const std::string& fileName, const ImageDesc& desc, FileInfo& info,
                     const std::function<void(std::string_view)>& storeText) {
  CheckBuffer(desc.Header, desc.HeaderSize, "header");
  CheckBuffer(desc.Data, desc.DataSize, "data");
  LineReader reader(fileName);
  info = FileInfo{};
  std::string text;
  std::string_view line;
  while (reader.Next(line)) {
    const char kind = line.size() >= 5 && line[0] == 'S' ? line[1] : '\0';
    if (kind == '0') {
      RecordStatus status = ScanRecord(line, 0, desc.Header, desc.HeaderSize, nullptr, nullptr);
      info.HasHeader = 1;
      info.HeaderBad = status != RecordOk ? 1 : 0;
    } else if (kind == '1') {
      uint16_t address = 0;
      uint8_t count = 0;
      switch (ScanRecord(line, desc.BaseAddress, desc.Data, desc.DataSize, &address, &count)) {
        case RecordOk:
          info.HasData = 1;
          // The running low address and span of the good records; both
          // start at 0, so in effect Span ends as address + count of the
          // last good record with a nonzero address.
          if (info.LowAddress < address) {
            info.Span = static_cast<int32_t>(int64_t{info.LowAddress} + address + count);
          } else if (info.LowAddress > address) {
            info.Span = static_cast<int32_t>(int64_t{info.Span} + info.LowAddress - address);
            info.LowAddress = address;
          }
          break;
        case RecordChecksumError:
          if (info.ChecksumErrors < INT32_MAX) ++info.ChecksumErrors;
          break;
        case RecordMalformed:
          if (info.FormatErrors < INT32_MAX) ++info.FormatErrors;
          break;
      }
    } else if (kind == '9') {
      RecordStatus status = ScanRecord(line, 0, nullptr, 0, nullptr, nullptr);
      info.HasEnd = 1;
      info.EndGood = status == RecordOk ? 1 : 0;
    } else {
      text.append(line);
      text += '\n';
    }
  }
  storeText(text);
}

}  // namespace holm
