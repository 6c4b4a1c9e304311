// The Reg* calls over the registry files.
//
// Two files make the registry: the user's (every write goes there) and the
// machine's, which the administrator fills (regsvr --system) and users only
// read. A read of HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE looks in the
// user's file first and, when the key or value is not there, in the
// machine's; enumeration lists the subkeys of both. So a user's own
// registration overrides the machine's, and a user with an empty home
// folder sees every class the machine registered. A machine file that
// cannot be read (ERROR_CANTREAD) or is damaged (ERROR_BADDB) is reported
// when a lookup reaches it, and a user process never writes it.
// HKEY_CURRENT_USER is the user's file alone.
//
// A file that someone other than this process's user and root could change
// (reg::Distrust: root running with a user's environment, sudo -E, finds
// that user's file) is never written, and its classes are never used: a
// library path in it is never loaded. Its HKEY_CURRENT_USER values (the
// port map, saved settings) are still read; they only name devices, which
// the same user could name on the command line.
//
// Every call reads the files afresh, so several processes (a client and
// regsvr, say) always see each other's changes. Changes are made under an
// exclusive lock on "<file>.lock" (flock), read-modify-write, and replace
// the file atomically. An open key handle names a path, not a node: it sees
// later changes, and a key deleted under it gives ERROR_KEY_DELETED.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>

#include "comrt/internal.h"
#include "comrt/registry_file.h"

struct comrt_hkey {
  int root;
  comrt::reg::Path path;
};

namespace comrt {
namespace {

using reg::Key;
using reg::Path;
using reg::Tree;

std::mutex g_handlesLock;
std::unordered_set<comrt_hkey*> g_handles;
std::mutex g_writeLock;  // one writer at a time within the process

// Predefined root handles map to their root index.
int PredefinedRoot(HKEY key) {
  const auto v = reinterpret_cast<uintptr_t>(key);
  if (v == reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT)) return reg::kClassesRoot;
  if (v == reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER)) return reg::kCurrentUser;
  if (v == reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE)) return reg::kLocalMachine;
  return -1;
}

// Where a call points: the handle's key (`base`, which must exist unless it
// is a root) and the subkey path below it.
struct Target {
  int root = 0;
  Path base;
  Path sub;
  Path Full() const {
    Path p = base;
    p.insert(p.end(), sub.begin(), sub.end());
    return p;
  }
};

LONG SplitPath(const char* text, Path& out) {
  out.clear();
  if (text == nullptr || *text == '\0') return ERROR_SUCCESS;
  std::string_view rest(text);
  for (;;) {
    const size_t next = rest.find('\\');
    const std::string_view name = rest.substr(0, next);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (!reg::ValidKeyName(name)) return ERROR_INVALID_PARAMETER;
    out.emplace_back(name);
    if (next == std::string_view::npos) return ERROR_SUCCESS;
    rest.remove_prefix(next + 1);
  }
}

LONG Resolve(HKEY key, const char* subKey, Target& t) {
  t.root = PredefinedRoot(key);
  if (t.root < 0) {
    std::lock_guard<std::mutex> guard(g_handlesLock);
    auto it = g_handles.find(key);
    if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
    t.root = (*it)->root;
    t.base = (*it)->path;
  }
  return SplitPath(subKey, t.sub);
}

LONG NewHandle(int root, Path path, PHKEY result) {
  if (path.empty()) {
    static const HKEY kRoots[reg::kRootCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                                                 HKEY_LOCAL_MACHINE};
    *result = kRoots[root];
    return ERROR_SUCCESS;
  }
  auto* h = new (std::nothrow) comrt_hkey{root, std::move(path)};
  if (h == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  std::lock_guard<std::mutex> guard(g_handlesLock);
  g_handles.insert(h);
  *result = h;
  return ERROR_SUCCESS;
}

// The handle's own key: missing only when it was deleted after opening.
LONG FindBase(const Tree& tree, const Target& t, Key*& key) {
  key = reg::Find(tree, t.root, t.base);
  return key == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG FindKey(const Tree& tree, const Target& t, Key*& key) {
  LONG rc = FindBase(tree, t, key);
  if (rc != ERROR_SUCCESS) return rc;
  for (const std::string& name : t.sub) {
    key = key->Find(name);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

// The machine's file: $COMRT_MACHINE_REGISTRY (set but empty: none), else
// the one under the installation's configuration folder.
std::string MachineFilePath() {
  if (const char* p = std::getenv("COMRT_MACHINE_REGISTRY"); p != nullptr) return p;
  return COMRT_MACHINE_REGISTRY_DEFAULT;
}

bool SharedRoot(int root) {
  return root == reg::kClassesRoot || root == reg::kLocalMachine;
}

// A lookup that found nothing in the user's file goes on in the machine's.
bool Missing(LONG rc) {
  return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED;
}

// Loads a file for a lookup under `root`. Under a shared root, whose keys
// name the libraries that get loaded, a file that fails the trust rule
// (reg::Distrust) reads as empty: its classes are never used.
LONG LoadFor(int root, const std::string& path, Tree& tree) {
  if (SharedRoot(root) && !reg::Distrust(path).empty()) {
    reg::Parse("", tree);
    return ERROR_SUCCESS;
  }
  return reg::Load(path, tree);
}

// Runs `f` on the user's tree, then, for a shared root when it found
// nothing there, on the machine's. The machine's file is left out when it
// is the user's file too (regsvr --system).
template <typename F>
LONG Read(int root, F&& f) {
  const std::string userPath = reg::FilePath();
  Tree tree;
  LONG rc = LoadFor(root, userPath, tree);
  if (rc != ERROR_SUCCESS) return rc;
  rc = f(tree);
  if (!Missing(rc) || !SharedRoot(root)) return rc;
  const std::string machinePath = MachineFilePath();
  if (machinePath.empty() || machinePath == userPath) return rc;
  Tree machine;
  const LONG loaded = LoadFor(root, machinePath, machine);
  if (loaded != ERROR_SUCCESS) return loaded;
  const LONG machineRc = f(machine);
  return Missing(machineRc) ? rc : machineRc;
}

// The subkeys of the handle's key in the user's file and, under a shared
// root, in the machine's. ERROR_SUCCESS when the key is in either file.
LONG SubkeyNames(const Target& t, std::map<std::string, std::string>& names) {
  const std::string userPath = reg::FilePath();
  const std::string machinePath = MachineFilePath();
  const bool both = SharedRoot(t.root) && !machinePath.empty() && machinePath != userPath;
  LONG result = ERROR_FILE_NOT_FOUND;
  for (const std::string& path : {userPath, both ? machinePath : std::string()}) {
    if (path.empty()) continue;
    Tree tree;
    const LONG loaded = LoadFor(t.root, path, tree);
    if (loaded != ERROR_SUCCESS) return loaded;
    Key* k;
    const LONG found = FindBase(tree, t, k);
    if (found != ERROR_SUCCESS) {
      if (result != ERROR_SUCCESS) result = found;
      continue;
    }
    result = ERROR_SUCCESS;
    for (const auto& [folded, sub] : k->subkeys) names.emplace(folded, sub->name);
  }
  return result;
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash)))
    return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Temporary files of writers that died mid-write. Only called under the
// file lock, so no live writer owns one.
void RemoveStaleTemporaries(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* e = readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
        std::strlen(e->d_name) == prefix.size() + 6)
      unlinkat(dirfd(d), e->d_name, 0);
  }
  closedir(d);
}

// Read-modify-write. `f(tree, changed)` sets `changed` when the tree must be
// saved. A file that cannot be read is never replaced, and one that fails
// the trust rule is never touched (ERROR_ACCESS_DENIED): nothing is created
// in its folder, not even the lock. The machine's file is always left
// readable for every user (0644), whatever the umask.
template <typename F>
LONG Modify(F&& f) {
  std::lock_guard<std::mutex> guard(g_writeLock);
  const std::string path = reg::FilePath();
  if (!reg::Distrust(path).empty()) return ERROR_ACCESS_DENIED;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirectories(path.substr(0, slash))) return ERROR_CANTWRITE;
  const int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return ERROR_CANTWRITE;
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lock);
      return ERROR_CANTWRITE;
    }
  }
  RemoveStaleTemporaries(path);
  Tree tree;
  LONG rc = reg::Load(path, tree);
  bool changed = false;
  if (rc == ERROR_SUCCESS) rc = f(tree, changed);
  const bool machine = path == MachineFilePath();
  if (rc == ERROR_SUCCESS && changed) rc = reg::Save(path, tree, machine ? 0644 : 0600, machine);
  close(lock);  // releases the lock
  return rc;
}

// Copies a string value out with the Reg* size contract (size counts the
// NUL): a null buffer asks for the size, a short one gives ERROR_MORE_DATA.
LONG CopyOut(const std::string& value, char* data, DWORD* size) {
  const DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value.c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// The string value `name` (folded) of the key `t` names, with its subkey
// path if it has one. A value never set gives `missing`: an error, or
// ERROR_SUCCESS and the empty string.
LONG ReadString(const Target& t, const std::string& name, LONG missing, std::string& value) {
  return Read(t.root, [&](const Tree& tree) -> LONG {
    Key* k;
    const LONG found = FindKey(tree, t, k);
    if (found != ERROR_SUCCESS) return found;
    auto it = k->values.find(name);
    if (it == k->values.end()) return missing;
    value = it->second.data;
    return ERROR_SUCCESS;
  });
}

// Changes the handle's own key: `change(key, changed)` gives the result
// and sets `changed` when the file is to be written.
template <typename F>
LONG ModifyOwnKey(HKEY handle, F&& change) {
  Target t;
  const LONG rc = Resolve(handle, nullptr, t);
  if (rc != ERROR_SUCCESS) return rc;
  return Modify([&](Tree& tree, bool& changed) -> LONG {
    Key* k;
    const LONG found = FindBase(tree, t, k);
    if (found != ERROR_SUCCESS) return found;
    return change(*k, changed);
  });
}

// What is wrong with the user's registry file or the machine's, for a
// person, or empty.
std::string Problem(bool machine) {
  const std::string machinePath = MachineFilePath();
  const std::string path = machine ? machinePath : reg::FilePath();
  if (path.empty()) return {};
  machine = path == machinePath;  // regsvr --system writes the machine's file
  const std::string name = (machine ? "the machine registry " : "the registry file ") + path;
  std::string why = reg::Distrust(path);
  if (!why.empty()) return name + " is not used: " + why;
  Tree tree;
  const LONG rc = reg::Load(path, tree, &why);
  if (rc == ERROR_CANTREAD) {
    if (machine)
      return "cannot read " + name + ": " + why +
             "; the administrator must make it readable for every user (chmod 644)";
    // Typically written by root running with this user's environment.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_uid != geteuid())
      return "cannot read " + name + ": " + why + "; it belongs to uid " +
             std::to_string(st.st_uid) + ", not to you: give it back with sudo chown " +
             std::to_string(geteuid()) + " " + path;
    return "cannot read " + name + ": " + why;
  }
  if (rc == ERROR_BADDB)
    return name + " is damaged: it is not a registry file; " +
           (machine ? "the administrator must repair or remove it" : "repair or remove it") +
           " (it is never overwritten)";
  return {};
}

size_t CopyText(const std::string& text, char* out, size_t size) {
  if (out == nullptr || size < text.size() + 1) return text.size() + 1;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return text.size();
}

}  // namespace

LONG ReadClassesValue(const std::string& path, std::string& value) {
  Target t;
  t.root = reg::kClassesRoot;
  if (SplitPath(path.c_str(), t.sub) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
  return Read(t.root, [&](const Tree& tree) -> LONG {
    Key* key;
    const LONG rc = FindKey(tree, t, key);
    if (rc != ERROR_SUCCESS) return rc;
    auto it = key->values.find("");
    value = it == key->values.end() ? std::string() : it->second.data;
    return ERROR_SUCCESS;
  });
}

}  // namespace comrt

using comrt::Target;
using comrt::reg::Key;
using comrt::reg::Tree;

COMRT_API LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  LONG rc = comrt::Resolve(key, subKey, t);
  if (rc != ERROR_SUCCESS) return rc;
  rc = comrt::Modify([&](Tree& tree, bool& changed) -> LONG {
    Key* k;
    const LONG found = comrt::FindBase(tree, t, k);
    if (found != ERROR_SUCCESS) return found;
    for (const std::string& name : t.sub) k = k->FindOrCreate(name, &changed);
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  return comrt::NewHandle(t.root, t.Full(), result);
}

COMRT_API LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t;
  LONG rc = comrt::Resolve(key, subKey, t);
  if (rc != ERROR_SUCCESS) return rc;
  rc = comrt::Read(t.root, [&](const Tree& tree) -> LONG {
    Key* k;
    return comrt::FindKey(tree, t, k);
  });
  if (rc != ERROR_SUCCESS) return rc;
  return comrt::NewHandle(t.root, t.Full(), result);
}

COMRT_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return RegOpenKeyA(key, subKey, result);
}

COMRT_API LONG RegCloseKey(HKEY key) {
  if (comrt::PredefinedRoot(key) >= 0) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> guard(comrt::g_handlesLock);
  auto it = comrt::g_handles.find(key);
  if (it == comrt::g_handles.end()) return ERROR_INVALID_HANDLE;
  comrt::g_handles.erase(it);
  delete key;
  return ERROR_SUCCESS;
}

// The size argument is ignored, as on Windows: the value is the
// NUL-terminated string `data`. Missing subkeys are created.
COMRT_API LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size) {
  if (type != REG_SZ || data == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  const LONG rc = comrt::Resolve(key, subKey, t);
  if (rc != ERROR_SUCCESS) return rc;
  const std::string value(data);
  return comrt::Modify([&](Tree& tree, bool& changed) -> LONG {
    Key* k;
    const LONG found = comrt::FindBase(tree, t, k);
    if (found != ERROR_SUCCESS) return found;
    for (const std::string& name : t.sub) k = k->FindOrCreate(name, &changed);
    auto it = k->values.find("");
    if (it == k->values.end() || it->second.data != value) {
      k->values[""] = comrt::reg::Value{"", value};
      changed = true;
    }
    return ERROR_SUCCESS;
  });
}

// A key whose default value was never set reads as the empty string.
COMRT_API LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (size != nullptr && *size < 0) return ERROR_INVALID_PARAMETER;
  Target t;
  LONG rc = comrt::Resolve(key, subKey, t);
  if (rc != ERROR_SUCCESS) return rc;
  std::string value;
  rc = comrt::ReadString(t, "", ERROR_SUCCESS, value);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD n = size != nullptr ? static_cast<DWORD>(*size) : 0;
  rc = comrt::CopyOut(value, data, size != nullptr ? &n : nullptr);
  if (size != nullptr) *size = static_cast<LONG>(n);
  return rc;
}

// Only a key without subkeys can be deleted (ERROR_ACCESS_DENIED otherwise).
COMRT_API LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr || *subKey == '\0') return ERROR_INVALID_PARAMETER;
  Target t;
  const LONG rc = comrt::Resolve(key, subKey, t);
  if (rc != ERROR_SUCCESS) return rc;
  return comrt::Modify([&](Tree& tree, bool& changed) -> LONG {
    Target parent = t;
    const std::string last = parent.sub.back();
    parent.sub.pop_back();
    Key* p;
    const LONG found = comrt::FindKey(tree, parent, p);
    if (found != ERROR_SUCCESS) return found;
    auto it = p->subkeys.find(comrt::reg::Fold(last));
    if (it == p->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
    p->subkeys.erase(it);
    changed = true;
    return ERROR_SUCCESS;
  });
}

// Subkeys come in the order of their names, letter case ignored; under a
// shared root those of both files, each name once.
COMRT_API LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  LONG rc = comrt::Resolve(key, nullptr, t);
  if (rc != ERROR_SUCCESS) return rc;
  std::map<std::string, std::string> names;  // folded name -> name
  rc = comrt::SubkeyNames(t, names);
  if (rc != ERROR_SUCCESS) return rc;
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  auto it = names.begin();
  std::advance(it, index);
  const std::string& n = it->second;
  if (size < n.size() + 1) return ERROR_MORE_DATA;
  std::memcpy(name, n.c_str(), n.size() + 1);
  return ERROR_SUCCESS;
}

// Only REG_SZ is stored. The data is taken up to its first NUL or `size`.
COMRT_API LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size) {
  if (type != REG_SZ || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  const std::string valueName = name != nullptr ? name : "";
  if (valueName.size() > 16383) return ERROR_INVALID_PARAMETER;
  const char* text = reinterpret_cast<const char*>(data);
  const std::string value = size == 0 ? std::string() : std::string(text, strnlen(text, size));
  return comrt::ModifyOwnKey(key, [&](Key& k, bool& changed) -> LONG {
    k.values[comrt::reg::Fold(valueName)] = comrt::reg::Value{valueName, value};
    changed = true;
    return ERROR_SUCCESS;
  });
}

// A default value that was never set is ERROR_FILE_NOT_FOUND here.
COMRT_API LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  Target t;
  LONG rc = comrt::Resolve(key, nullptr, t);
  if (rc != ERROR_SUCCESS) return rc;
  std::string value;
  rc = comrt::ReadString(t, comrt::reg::Fold(name != nullptr ? name : ""), ERROR_FILE_NOT_FOUND,
                         value);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != nullptr) *type = REG_SZ;
  return comrt::CopyOut(value, reinterpret_cast<char*>(data), size);
}

COMRT_API LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  return comrt::ModifyOwnKey(key, [&](Key& k, bool& changed) -> LONG {
    if (k.values.erase(comrt::reg::Fold(name != nullptr ? name : "")) == 0)
      return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

COMRT_API size_t comrt_MachineRegistryPath(char* out, size_t size) {
  return comrt::CopyText(comrt::MachineFilePath(), out, size);
}

COMRT_API size_t comrt_RegistryPath(char* out, size_t size) {
  return comrt::CopyText(comrt::reg::FilePath(), out, size);
}

COMRT_API size_t comrt_RegistryProblem(BOOL machine, char* out, size_t size) {
  return comrt::CopyText(comrt::Problem(machine != 0), out, size);
}
