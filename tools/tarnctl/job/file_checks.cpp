// The checks tarnctl makes on the S19 and password files it reads; see
// file_checks.h for the rules.
#include "file_checks.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "errors.h"

namespace tarnctl {
namespace {

namespace fs = std::filesystem;

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool AllHex(const std::string& s, size_t from) {
  for (size_t i = from; i < s.size(); ++i)
    if (Hex(s[i]) < 0) return false;
  return true;
}

// The byte at hex digits [at, at + 2), or -1.
int ByteAt(const std::string& s, size_t at) {
  if (at + 2 > s.size() || Hex(s[at]) < 0 || Hex(s[at + 1]) < 0) return -1;
  return Hex(s[at]) * 16 + Hex(s[at + 1]);
}

// The state of one pass over the lines.
struct Scan {
  std::string fileName;
  unsigned line = 0;
  unsigned dataRecords = 0;
  bool ended = false;
  std::vector<int> seen = std::vector<int>(0x10000, -1);  // byte given per address, -1 none

  [[noreturn]] void Refuse(const std::string& why) const {
    throw Error(kExitFile, fileName + " line " + std::to_string(line) + ": " + why,
                "nothing was sent to the pager; check the file");
  }

  void DataRecord(const std::string& r) {
    if (ended) Refuse("a data record after the end record (S9)");
    ++dataRecords;
    int count = ByteAt(r, 2);
    if (count < 3 || r.size() != 4 + 2 * static_cast<size_t>(count)) return;  // malformed
    unsigned address = static_cast<unsigned>(ByteAt(r, 4) * 256 + ByteAt(r, 6));
    unsigned length = static_cast<unsigned>(count) - 3;
    if (address + length > 0x10000)
      Refuse("the record at " + Hex4(address) + " with " + std::to_string(length) +
             " bytes runs past 0xFFFF, the end of the pager's memory");
    for (unsigned i = 0; i < length; ++i) {
      int b = ByteAt(r, 8 + 2 * i);
      int& old = seen[address + i];
      if (old >= 0 && old != b)
        Refuse("the record gives " + Hex4(address + i) +
               " a byte other than an earlier record gave it");
      old = b;
    }
  }

  void CountRecord(const std::string& r) {
    int count = ByteAt(r, 2);
    if (count != 3 || r.size() != 10) return;  // malformed: the reader reports it
    unsigned n = static_cast<unsigned>(ByteAt(r, 4) * 256 + ByteAt(r, 6));
    if (n != dataRecords)
      Refuse("the count record (S5) says " + std::to_string(n) + " data records, the file has " +
             std::to_string(dataRecords) + " before it");
  }

  void Line(std::string text) {
    ++line;
    // The S19 reader ends a record at its last letter or digit (a CR, a
    // form feed, blanks or a full stop after it are dropped); so do the
    // checks, so that every record it loads is checked.
    while (!text.empty() && Hex(text.back()) < 0 && !(text.back() >= 'G' && text.back() <= 'Z') &&
           !(text.back() >= 'g' && text.back() <= 'z'))
      text.pop_back();
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return;
    std::string r = text.substr(start);
    bool recordLike =
        r.size() >= 4 && (r[0] == 'S' || r[0] == 's') && r[1] >= '0' && r[1] <= '9' && AllHex(r, 2);
    if (!recordLike) return;  // a comment line
    if (start != 0 || r[0] == 's')
      Refuse("the line looks like a record but would be read as a comment (" +
             std::string(start != 0 ? "a leading blank" : "a lower-case 's'") + ")");
    switch (r[1]) {
      case '1':
        DataRecord(r);
        break;
      case '2':
      case '3':
      case '7':
      case '8':
        Refuse(std::string("an S") + r[1] +
               " record (24- or 32-bit addresses); the pager's address space is 16 bits, "
               "only S1 records can go to it");
      case '5':
        CountRecord(r);
        break;
      case '9':
        ended = true;
        break;
      default:
        break;
    }
  }
};

}  // namespace

std::string ReadSmallFile(const std::string& path, size_t maxBytes, const char* what,
                          int exitCode) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  std::string name = std::string(what) + " " + path;
  if (!fs::exists(st))
    throw Error(exitCode, "cannot read " + name + ": no such file",
                "check the file name and the folder");
  if (fs::is_directory(st)) throw Error(exitCode, "cannot read " + name + ": it is a folder");
  if (!fs::is_regular_file(st))
    throw Error(exitCode, "cannot read " + name + ": not a regular file",
                "give an ordinary file, not a device, pipe or socket");
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw Error(exitCode, "cannot read " + name + ": no permission to read it",
                "check the file's permissions");
  std::string text(maxBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > maxBytes)
    throw Error(exitCode,
                "cannot read " + name + ": larger than " + std::to_string(maxBytes >> 20) + " MiB");
  return text;
}

void CheckImageRecords(const std::string& text, const std::string& fileName) {
  Scan scan;
  scan.fileName = fileName;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) scan.Line(line);
}

Password PasswordFromBytes(const std::string& raw) {
  std::string bytes = raw;
  if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  if (bytes.size() > 10)
    throw Error(kExitUsage,
                "the download password is " + std::to_string(bytes.size()) +
                    " bytes long; it has at most 10",
                "a shorter password is padded with zero bytes");
  Password p{};
  for (size_t i = 0; i < bytes.size(); ++i) p[i] = static_cast<BYTE>(bytes[i]);
  return p;
}

Password ReadPasswordFile(const std::string& path, std::vector<std::string>* warnings) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (fs::is_directory(st))
    throw Error(kExitUsage, "cannot read the password file " + path + ": it is a folder",
                "give the file that holds the download password");
  // A pipe or a device is fine (a password manager's output): only the
  // first bytes are read.
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw Error(kExitUsage, "cannot read the password file " + path,
                "check the file name and its permissions");
  std::string bytes(13, '\0');  // 10 bytes, "\r\n", and one to see that there is more
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() == 13)
    throw Error(kExitUsage,
                "the password file " + path + " holds more than 10 bytes and a line end",
                "the download password has at most 10 bytes");
  Password p = PasswordFromBytes(bytes);
  if (fs::is_regular_file(st) &&
      (fs::status(path, ec).permissions() & (fs::perms::group_read | fs::perms::others_read)) !=
          fs::perms::none)
    warnings->push_back("the password file " + path + " can be read by other users; chmod 600 " +
                        path);
  if (bytes.empty() || bytes == "\n" || bytes == "\r\n")
    warnings->push_back("the password file " + path + " is empty: an empty password is sent");
  return p;
}

}  // namespace tarnctl
