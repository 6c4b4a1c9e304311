// The registry's tree and its text file.
//
// File format (UTF-8 or any bytes but NUL, one item per line):
//
//   COMRT REGISTRY 1
//   [HKEY_CLASSES_ROOT\CLSID\{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03}]
//   @="BRENTAR.TARN"
//   [HKEY_CURRENT_USER\Software\Tarn\Ports]
//   "COM1"="/dev/ttyUSB0"
//
// The first line names the format. "[path]" opens a key (creating the keys
// above it); "@=" sets its default value, "\"name\"=" a named value. Strings
// are double-quoted with \\, \", \n, \r, \t and \xHH escapes. Blank lines
// and lines starting with '#' or ';' are ignored. Anything else makes the
// whole file corrupt: it is then reported and never rewritten.
#ifndef COMRT_REGISTRY_FILE_H
#define COMRT_REGISTRY_FILE_H

#include <comrt/comrt.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace comrt::reg {

// Key and value names compare without regard to ASCII letter case.
std::string Fold(std::string_view name);

// A key name: 1 to 255 bytes, no backslash, no control character.
bool ValidKeyName(std::string_view name);

struct Value {
  std::string name;  // empty for the default value
  std::string data;
};

struct Key {
  std::string name;
  std::map<std::string, Value> values;                  // by folded name
  std::map<std::string, std::unique_ptr<Key>> subkeys;  // by folded name

  Key* Find(const std::string& name) const;
  Key* FindOrCreate(const std::string& name, bool* created);
};

enum Root { kClassesRoot = 0, kCurrentUser = 1, kLocalMachine = 2, kRootCount = 3 };
extern const char* const kRootNames[kRootCount];

struct Tree {
  Key roots[kRootCount];
};

using Path = std::vector<std::string>;

// Walks `path` below `root`; null when a key on the way is missing.
Key* Find(const Tree& tree, int root, const Path& path);

// Parses the file's text; false when it is not a registry file.
bool Parse(std::string_view text, Tree& tree);
std::string Serialize(const Tree& tree);

// The file in use: $COMRT_REGISTRY, else $XDG_CONFIG_HOME/comrt/registry,
// else $HOME/.config/comrt/registry.
std::string FilePath();

// Reads the file into `tree`. A missing or empty file is an empty registry.
// Returns ERROR_SUCCESS, ERROR_CANTREAD (the file cannot be opened or read,
// or is not a plain file; `why` then says why in the system's words) or
// ERROR_BADDB (its text is not a registry).
LONG Load(const std::string& path, Tree& tree, std::string* why = nullptr);

// Why the registry file at `path` must not steer this process, or empty
// when it may. The rule careful tools apply to files that decide what runs:
// the file (when it exists) and every folder above it must belong to the
// effective user or to root, and no one else may write them. A folder above
// the file's own may be writable by all when it is sticky (as /tmp is),
// since no one else can then replace what is in it. Symbolic links on the
// way are followed and each link's own folder is checked too. A file that
// fails the rule is never written and its classes (the library paths) are
// never used. The answer is a sentence for a person: what is wrong, and
// what to do about it.
std::string Distrust(const std::string& path);

// Replaces the file with `tree`: written to a temporary file in the same
// directory, flushed to disk, then renamed over the old one. Returns
// ERROR_SUCCESS or ERROR_CANTWRITE (the old file is then untouched).
// A path that is a symbolic link is written through: the file it names is
// replaced and the link stays. An existing file keeps its permissions; a
// new one gets `newFileMode` less the user's umask (0600 for a user's file,
// which can hold settings). With `exactMode` the file gets `newFileMode`
// whatever the umask and whatever it had: the machine's file is 0644
// because every user must read it.
LONG Save(const std::string& path, const Tree& tree, mode_t newFileMode, bool exactMode = false);

}  // namespace comrt::reg

#endif  // COMRT_REGISTRY_FILE_H
