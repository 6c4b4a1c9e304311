// A component library loaded for a moment, as the platform loads it:
// library_posix.cpp (dlopen) and library_win32.cpp (LoadLibrary).
#ifndef TOOLS_REGSVR_LIBRARY_H
#define TOOLS_REGSVR_LIBRARY_H

#include <string>

namespace regsvr {

class Library {
 public:
  // Loads the library at `path` (on POSIX by its resolved path, symbolic
  // links followed). On failure Loaded() is false and Error() says why, in
  // the system's words.
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }
  // The address of an export, or null.
  void* Export(const char* name) const;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace regsvr

#endif  // TOOLS_REGSVR_LIBRARY_H
