// The registry file: its text, its atomic replacement and the rule that
// decides whether this process may trust it (see registry_file.h).
#include "comrt/registry_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace comrt::reg {

const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                            "HKEY_LOCAL_MACHINE"};

namespace {

constexpr std::string_view kHeader = "COMRT REGISTRY 1";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void Quote(std::string_view s, std::string& out) {
  out += '"';
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

// Reads a quoted string at line[pos]; pos ends after the closing quote.
bool Unquote(std::string_view line, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return false;
    switch (line[pos]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (pos + 2 >= line.size()) return false;
        const int hi = HexValue(line[pos + 1]), lo = HexValue(line[pos + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

void SerializeKey(const Key& key, const std::string& path, bool isRoot, std::string& out) {
  if (!isRoot || !key.values.empty()) {
    out += '[';
    out += path;
    out += "]\n";
  }
  for (const auto& [folded, value] : key.values) {
    if (value.name.empty()) {
      out += '@';
    } else {
      Quote(value.name, out);
    }
    out += '=';
    Quote(value.data, out);
    out += '\n';
  }
  for (const auto& [folded, sub] : key.subkeys)
    SerializeKey(*sub, path + "\\" + sub->name, false, out);
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return "/";
}

std::string Directory(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file a path names after following symbolic links (at most 40, as the
// kernel does); a dangling link names the file it would create. A relative
// link is read from the link's own folder.
std::string FinalTarget(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buffer[4096];
    const ssize_t n = readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) break;
    std::string link(buffer, static_cast<size_t>(n));
    current = link[0] == '/' ? link : Directory(current) + "/" + link;
  }
  return current;
}

// Permissions of a registry created here: `most` less the user's umask.
mode_t NewFileMode(mode_t most) {
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status))
      if (std::sscanf(line, "Umask: %o", &value) == 1) mask = static_cast<mode_t>(value);
    std::fclose(status);
  }
  return most & ~mask;
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return "/" + path;
  return std::string(cwd) + "/" + path;
}

// Why `what` (a file or folder with status `st`) could be changed by
// someone other than this process's user and root, or empty. `sticky`: a
// sticky folder writable by all is accepted.
std::string Exposure(const std::string& what, const struct stat& st, bool sticky) {
  const uid_t me = geteuid();
  if (st.st_uid != me && st.st_uid != 0)
    return what + " belongs to uid " + std::to_string(st.st_uid) +
           (me == 0 ? std::string(", not to root")
                    : ", not to this user (uid " + std::to_string(me) + ") or root") +
           ". Run the command as the user that owns it; as root, "
           "run it without that user's environment (sudo without -E, or sudo -H), or set "
           "COMRT_REGISTRY to a file of root's own";
  const bool open = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (open && !(sticky && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0))
    return what + " may be written by others (mode " + Octal(st.st_mode) +
           "). Remove their write permission: chmod go-w " + what.substr(what.rfind(' ') + 1);
  return {};
}

// Checks the folder that holds (or will hold) a file, and every folder above
// it; a folder that does not exist yet is made by this process later.
std::string FolderExposure(const std::string& folder) {
  bool own = true;
  for (std::string dir = folder;; dir = Directory(dir)) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) {
      std::string why = Exposure("the folder " + dir, st, !own);
      if (!why.empty()) return why;
      own = false;
    }
    if (dir == "/" || dir == ".") return {};
  }
}

}  // namespace

bool ValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  }
  return true;
}

std::string Fold(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

Key* Key::Find(const std::string& n) const {
  auto it = subkeys.find(Fold(n));
  return it == subkeys.end() ? nullptr : it->second.get();
}

Key* Key::FindOrCreate(const std::string& n, bool* created) {
  auto& slot = subkeys[Fold(n)];
  if (!slot) {
    slot = std::make_unique<Key>();
    slot->name = n;
    if (created != nullptr) *created = true;
  }
  return slot.get();
}

Key* Find(const Tree& tree, int root, const Path& path) {
  Key* key = const_cast<Key*>(&tree.roots[root]);
  for (const std::string& name : path) {
    key = key->Find(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

bool Parse(std::string_view text, Tree& tree) {
  for (Key& root : tree.roots) {
    root.values.clear();
    root.subkeys.clear();
  }
  if (text.empty()) return true;
  if (text.find('\0') != std::string_view::npos) return false;
  bool sawHeader = false;
  Key* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    line.remove_prefix(first);
    if (line[0] == '#' || line[0] == ';') continue;
    if (!sawHeader) {
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
      if (line != kHeader) return false;
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
      if (line.size() < 2 || line.back() != ']') return false;
      std::string_view path = line.substr(1, line.size() - 2);
      const size_t slash = path.find('\\');
      const std::string rootName = Fold(path.substr(0, slash));
      int root = -1;
      for (int r = 0; r < kRootCount; ++r)
        if (rootName == Fold(kRootNames[r])) root = r;
      if (root < 0) return false;
      current = &tree.roots[root];
      if (slash != std::string_view::npos) {
        std::string_view rest = path.substr(slash + 1);
        for (;;) {
          const size_t next = rest.find('\\');
          const std::string_view name = rest.substr(0, next);
          if (!ValidKeyName(name)) return false;
          current = current->FindOrCreate(std::string(name), nullptr);
          if (next == std::string_view::npos) break;
          rest.remove_prefix(next + 1);
        }
      }
      continue;
    }
    if (current == nullptr) return false;
    size_t pos = 0;
    std::string name, data;
    if (line[0] == '@') {
      pos = 1;
    } else if (!Unquote(line, pos, name) || name.empty()) {
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    if (!Unquote(line, pos, data)) return false;
    if (line.find_first_not_of(" \t", pos) != std::string_view::npos) return false;
    current->values[Fold(name)] = Value{name, data};
  }
  return sawHeader;
}

std::string Serialize(const Tree& tree) {
  std::string out(kHeader);
  out += "\n# The component runtime's registry. Written whole on every change.\n";
  for (int r = 0; r < kRootCount; ++r) SerializeKey(tree.roots[r], kRootNames[r], true, out);
  return out;
}

std::string FilePath() {
  if (const char* p = std::getenv("COMRT_REGISTRY"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && x[0] == '/')
    return std::string(x) + "/comrt/registry";
  return HomeDirectory() + "/.config/comrt/registry";
}

std::string Distrust(const std::string& path) {
  std::string current = Absolute(path);
  for (int hops = 0; hops < 40; ++hops) {
    std::string why = FolderExposure(Directory(current));
    if (!why.empty()) return why;
    char buffer[4096];
    const ssize_t n = readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) break;
    std::string link(buffer, static_cast<size_t>(n));
    current = link[0] == '/' ? link : Directory(current) + "/" + link;
  }
  struct stat st {};
  if (stat(current.c_str(), &st) != 0) return {};
  return Exposure("the registry file " + current, st, false);
}

LONG Load(const std::string& path, Tree& tree, std::string* why) {
  Parse("", tree);
  // Non-blocking, so that a FIFO in the file's place cannot stall the
  // process; only plain files are read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    if (why != nullptr) *why = std::strerror(errno);
    return ERROR_CANTREAD;
  }
  struct stat st {};
  std::string text;
  int error = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EISDIR;
  if (error == EISDIR && !S_ISDIR(st.st_mode)) error = EINVAL;
  char buffer[8192];
  while (error == 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (error != 0) {
    if (why != nullptr) *why = error == EINVAL ? "not a plain file" : std::strerror(error);
    return ERROR_CANTREAD;
  }
  if (!Parse(text, tree)) return ERROR_BADDB;
  return ERROR_SUCCESS;
}

LONG Save(const std::string& path, const Tree& tree, mode_t newFileMode, bool exactMode) {
  const std::string text = Serialize(tree);
  // A registry that is a symbolic link is written through the link: the
  // file it names is replaced, the link stays.
  const std::string target = FinalTarget(path);
  std::string temp = target + ".tmp.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return ERROR_CANTWRITE;
  struct stat st {};
  const mode_t mode = exactMode                        ? newFileMode
                      : stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777)
                                                       : NewFileMode(newFileMode);
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  // Make the rename itself durable.
  const int dir = open(Directory(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return ERROR_SUCCESS;
}

}  // namespace comrt::reg
