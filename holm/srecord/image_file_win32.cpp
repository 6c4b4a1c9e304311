// The writing side of the file layer on Windows: CreateFileA with
// CREATE_NEW on a fresh name beside the target, WriteFile,
// FlushFileBuffers, MoveFileExA with MOVEFILE_REPLACE_EXISTING; reading
// with CreateFileA and ReadFile.
#include <windows.h>

#include <atomic>

#include "holm/srecord/image_file.h"
#include "holm/srecord/srecord.h"

namespace holm {

// ---------------------------------------------------------------- reading

CInputFile::CInputFile(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) throw S19FileError("invalid file name");
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw S19FileError("cannot open " + name);
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw S19FileError("not a regular file: " + name);
  }
  handle_ = h;
}

CInputFile::~CInputFile() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

size_t CInputFile::Read(char* buffer, size_t size) {
  DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr))
    throw S19FileError("cannot read file");
  return got;
}

// ---------------------------------------------------------------- writing

namespace {
std::atomic<unsigned> tempCounter{0};
}  // namespace

CReplacingFile::CReplacingFile(const std::string& target) : target_(target) {
  if (target.empty() || target.find('\0') != std::string::npos)
    throw S19FileError("invalid file name");
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = target + ".tmp" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(tempCounter++) + "_" + std::to_string(GetTickCount() & 0xFFFFFF);
    HANDLE h = CreateFileA(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      break;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  if (!handle_) throw S19FileError("cannot create " + target);
}

CReplacingFile::~CReplacingFile() {
  Discard();
}

void CReplacingFile::Discard() noexcept {
  if (handle_) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    DeleteFileA(temp_.c_str());
  }
}

void CReplacingFile::Write(const char* bytes, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes, chunk, &written, nullptr) || written == 0)
      throw S19FileError("cannot write " + target_);
    bytes += written;
    size -= written;
  }
}

void CReplacingFile::Commit() {
  HANDLE h = static_cast<HANDLE>(handle_);
  handle_ = nullptr;
  BOOL ok = FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (!ok) {
    DeleteFileA(temp_.c_str());
    throw S19FileError("cannot write " + target_);
  }
  if (!MoveFileExA(temp_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp_.c_str());
    throw S19FileError("cannot replace " + target_);
  }
}

}  // namespace holm
