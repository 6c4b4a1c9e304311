// Unregistration by the library's path; see unregister.h.
#include "tools/regsvr/unregister.h"

#include <vector>

namespace regsvr {
namespace {

std::string ClassesValue(const std::string& key) {
  char value[4096];
  LONG size = sizeof value;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
  return value;
}

// The names of the subkeys of HKEY_CLASSES_ROOT\path.
LONG Subkeys(const std::string& path, std::vector<std::string>& names) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
  if (rc != ERROR_SUCCESS) return rc;
  char name[256];
  for (DWORD i = 0; (rc = RegEnumKeyA(key, i, name, sizeof name)) == ERROR_SUCCESS; ++i)
    names.emplace_back(name);
  RegCloseKey(key);
  return rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc;
}

// Deletes HKEY_CLASSES_ROOT\path with everything below it.
LONG DeleteTree(const std::string& path) {
  std::vector<std::string> names;
  LONG rc = Subkeys(path, names);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  for (const std::string& name : names)
    if ((rc = DeleteTree(path + "\\" + name)) != ERROR_SUCCESS) return rc;
  rc = RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Removes one class and the ProgID that names it (only when that ProgID
// still points at this class).
LONG RemoveClass(const std::string& clsid) {
  const std::string progId = ClassesValue("CLSID\\" + clsid + "\\ProgID");
  if (!progId.empty() && ClassesValue(progId + "\\CLSID") == clsid) {
    const LONG rc = DeleteTree(progId);
    if (rc != ERROR_SUCCESS) return rc;
  }
  return DeleteTree("CLSID\\" + clsid);
}

}  // namespace

LONG UnregisterLibrary(const std::string& library, int& removed) {
  removed = 0;
  std::vector<std::string> classes;
  LONG rc = Subkeys("CLSID", classes);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  for (const std::string& clsid : classes) {
    if (ClassesValue("CLSID\\" + clsid + "\\InprocServer32") != library) continue;
    if ((rc = RemoveClass(clsid)) != ERROR_SUCCESS) return rc;
    ++removed;
  }
  // An empty CLSID key is left by nobody else: remove it too.
  std::vector<std::string> rest;
  if (removed > 0 && Subkeys("CLSID", rest) == ERROR_SUCCESS && rest.empty())
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID");
  return ERROR_SUCCESS;
}

}  // namespace regsvr
