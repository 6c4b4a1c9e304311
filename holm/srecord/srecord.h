// The S-record image codec: moves a memory image between caller buffers and
// an S-record text file (free text lines, one S0 header record, S1 data
// records with 16-bit addresses, the S9 termination record).
//
// The codec knows nothing of component types: it takes narrow strings and
// raw byte buffers and reports failures as exceptions:
//   - S19FileError: the file cannot be created, opened, read or written;
//   - std::bad_alloc: memory exhausted;
//   - S19Damaged: a record the strict reader rejects (value 1).
// It never allocates, grows or clears the caller's image; bytes that no
// record covers keep what the caller put there.
#ifndef HOLM_SRECORD_SRECORD_H
#define HOLM_SRECORD_SRECORD_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace holm {

// The platform file layer failed to create, open, read or write a file.
class S19FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The strict reader met a record it rejects, or the end of the file before
// the S0 or the S9 line.
class S19Damaged : public std::exception {
 public:
  int Value() const { return 1; }
  const char* what() const noexcept override { return "S-record file damaged"; }
};

// A caller passed a null buffer with a nonzero size, or a null descriptor.
class S19BadArgument : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

enum RecordStatus { RecordOk = 0, RecordChecksumError = 1, RecordMalformed = 2 };

// Image parts as the caller supplies them. Sizes are lengths when writing
// and capacities when reading; a negative size counts as 0.
struct ImageDesc {
  int32_t BaseAddress = 0;
  uint8_t* Header = nullptr;
  int32_t HeaderSize = 0;
  uint8_t* Data = nullptr;
  int32_t DataSize = 0;
};

// Read report of ReadImageFileEx, or write options of WriteImageFileEx.
// Same eleven 32-bit fields, same order, as the public S19FileInfo.
struct FileInfo {
  int32_t LowAddress = 0;
  int32_t Reserved1 = 0;
  int32_t Span = 0;
  int32_t HasHeader = 0;
  int32_t HeaderBad = 0;
  int32_t HasData = 0;
  int32_t Reserved2 = 0;
  int32_t HasEnd = 0;
  int32_t EndGood = 0;
  int32_t ChecksumErrors = 0;
  int32_t FormatErrors = 0;
};

// The fixed termination record, written without a line end.
inline constexpr std::string_view kEndRecord = "S9030000FC";

// Line end of the platform's text files: CR LF on Windows, LF elsewhere.
// Reading accepts both everywhere.
#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

// ---------------------------------------------------------------- records

// Text of one record: type, count, address (absent for "S0", compared
// without regard to case), data bytes, checksum, then lineEnd.
std::string BuildRecord(std::string_view type, uint32_t address, const uint8_t* bytes,
                        size_t length, std::string_view lineEnd = {});

// The hex part of a line: without a leading upper-case "S" and its type
// character, and without trailing characters that are not letters or digits.
std::string_view RecordBody(std::string_view line);

// The n-th byte of a body (characters 2n and 2n+1), converted like a
// base-16 string-to-integer conversion that stops at the first non-hex
// character ("1G" gives 1, "G1" gives 0). Positions past the body read as 0.
uint8_t RecordByte(std::string_view body, size_t n);

// Strict parse of a record with a two-byte address after the count; stores
// its data at buffer[address - base] where that lies inside [0, size).
// Throws S19Damaged for a malformed record or a failed checksum.
void LoadRecord(std::string_view line, int32_t base, uint8_t* buffer, int32_t size);

// Tolerant parse: like LoadRecord, but an S0 line has no address field (its
// data go from buffer[0]) and problems are returned, not thrown.
// addressOut and countOut may be null.
RecordStatus ScanRecord(std::string_view line, int32_t base, uint8_t* buffer, int32_t size,
                        uint16_t* addressOut, uint8_t* countOut);

// ---------------------------------------------------------------- files
// The writers build the new file beside the target and put it in place only
// once it is complete, so a failure leaves any existing file untouched.

// Text, S0, S1 records and S9.
void WriteImageFile(const std::string& fileName, std::string_view text, int32_t baseAddress,
                    const uint8_t* header, int32_t headerLength, const uint8_t* data,
                    int32_t dataLength);

// Strict read. storeText is called once with the collected text, before the
// S0 record is parsed (so the text stays stored when a later record fails).
void ReadImageFile(const std::string& fileName,
                   const std::function<void(std::string_view)>& storeText, int32_t baseAddress,
                   uint8_t* header, int32_t headerSize, uint8_t* data, int32_t dataSize);

// Writes the text (if any) and the parts that options selects.
void WriteImageFileEx(const std::string& fileName, std::string_view text, const ImageDesc& desc,
                      const FileInfo& options);

// Tolerant read of the whole file; fills info and calls storeText once at
// the end of the file with every line that is not an S0, S1 or S9 record.
void ReadImageFileEx(const std::string& fileName, const ImageDesc& desc, FileInfo& info,
                     const std::function<void(std::string_view)>& storeText);

}  // namespace holm

#endif  // HOLM_SRECORD_SRECORD_H
