// The file layer on Windows. Writing: CreateFileW with CREATE_NEW on a
// fresh name beside the target, WriteFile, FlushFileBuffers, MoveFileExW
// with MOVEFILE_REPLACE_EXISTING, or the target itself opened for writing
// where a rename would change what the user chose (see the header).
// Reading: CreateFileW and ReadFile, ending the input at a 0x1A byte as
// the platform's text-mode input does.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "holm/srecord/image_file.h"
#include "holm/srecord/srecord.h"

namespace holm {

namespace {

// Names reach the system through the wide functions: the narrow name is in
// the ANSI code page, and the narrow functions do not take every code page
// (a UTF-8 one) everywhere.
std::wstring WideName(const std::string& name) {
  const int length = static_cast<int>(name.size());
  int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
  if (needed <= 0) throw S19FileError("invalid file name " + name);
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, wide.data(), needed) !=
      needed)
    throw S19FileError("invalid file name " + name);
  return wide;
}

void DeleteQuietly(const std::string& name) noexcept {
  try {
    DeleteFileW(WideName(name).c_str());
  } catch (...) {
  }
}

}  // namespace

// ---------------------------------------------------------------- reading

InputFile::InputFile(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) throw S19FileError("invalid file name");
  HANDLE h = CreateFileW(WideName(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw S19FileError("cannot open " + name);
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw S19FileError("not a regular file: " + name);
  }
  handle_ = h;
}

InputFile::~InputFile() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

size_t InputFile::Read(char* buffer, size_t size) {
  DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (ended_) return 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr))
    throw S19FileError("cannot read file");
  if (const void* stop = std::memchr(buffer, 0x1A, got)) {
    ended_ = true;
    got = static_cast<DWORD>(static_cast<const char*>(stop) - buffer);
  }
  return got;
}

// ---------------------------------------------------------------- writing

namespace {
std::atomic<unsigned> tempCounter{0};

// Attributes a replaced file keeps.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
}  // namespace

bool ReplacingFile::OpenTemporary() {
  return OpenTemporaryWith(FILE_ATTRIBUTE_NORMAL);
}

bool ReplacingFile::OpenTemporaryWith(unsigned long attributes) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = target_ + ".tmp" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(tempCounter++) + "_" + std::to_string(GetTickCount() & 0xFFFFFF);
    HANDLE h = CreateFileW(WideName(temp_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  temp_.clear();
  return false;
}

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
  if (target.empty() || target.find('\0') != std::string::npos)
    throw S19FileError("invalid file name");
  // Opening the target for writing asks the system whether we may write
  // it; nothing is truncated. A read-only file is refused here.
  HANDLE existing =
      CreateFileW(WideName(target_).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) throw S19FileError("cannot write " + target_);
    if (!OpenTemporary()) throw S19FileError("cannot create " + target_);
    return;
  }
  regular_ = GetFileType(existing) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION old{};
  if (regular_ && !GetFileInformationByHandle(existing, &old)) {
    CloseHandle(existing);
    throw S19FileError("cannot write " + target_);
  }
  if (old.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(existing);
    throw S19FileError("cannot write " + target_);
  }
  // A link stays a link, a second name keeps seeing the file, a device is
  // written as it is: all in place.
  const bool renameable =
      regular_ && old.nNumberOfLinks == 1 && !(old.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (renameable && OpenTemporaryWith(old.dwFileAttributes & kKeptAttributes)) {
    CloseHandle(existing);
    return;
  }
  inPlace_ = true;
  handle_ = existing;
}

ReplacingFile::~ReplacingFile() {
  Discard();
}

void ReplacingFile::Discard() noexcept {
  if (handle_) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    if (!inPlace_) DeleteQuietly(temp_);
  }
}

void ReplacingFile::Write(const char* bytes, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes, chunk, &written, nullptr) || written == 0)
      throw S19FileError("cannot write " + target_);
    bytes += written;
    size -= written;
    written_ += written;
  }
}

void ReplacingFile::Commit() {
  HANDLE h = static_cast<HANDLE>(handle_);
  if (inPlace_ && regular_) {
    // In place, the old text past the new end goes.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (!SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
      throw S19FileError("cannot write " + target_);
  }
  handle_ = nullptr;
  BOOL ok = !regular_ || FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (!ok) {
    if (!inPlace_) DeleteQuietly(temp_);
    throw S19FileError("cannot write " + target_);
  }
  if (inPlace_) return;
  if (!MoveFileExW(WideName(temp_).c_str(), WideName(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteQuietly(temp_);
    throw S19FileError("cannot replace " + target_);
  }
}

}  // namespace holm
