// Where there is no registry, the current user's hive is one text file in the
// format of Windows .reg files, kept under the user's configuration folder:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\...]
//   "name"=dword:0000000a
//
// It keeps the registry's rules: keys and values are typed, names compare
// without regard to case, reading never creates anything, and full access is
// refused where the store's permission bits do not grant reading and writing.
// A change rewrites the whole store into a temporary file beside it and puts
// that in place by renaming, so the store is always either the old one or the
// new one; lines it does not understand are kept byte for byte.
#include "Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlp::registry {

struct KeyData {
  std::string store;  // the store file, symbolic links resolved
  std::string subKey; // the key's path below the hive
};

namespace {

const char kHive[] = "HKEY_CURRENT_USER";
const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kUtf8Bom[] = "\xEF\xBB\xBF";

// ---- Where the store is -------------------------------------------------

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

// ${XDG_CONFIG_HOME:-$HOME/.config}/Tolva/HKEY_CURRENT_USER.reg, looked up at
// each call. Relative folders are ignored, as the XDG base directory rules say.
std::optional<std::string> StorePath() {
  std::string config;
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  const char *home = std::getenv("HOME");
  if (xdg && xdg[0] == '/')
    config = xdg;
  else if (home && home[0] == '/')
    config = WithoutTrailingSlashes(home) + "/.config";
  else
    return std::nullopt;
  return WithoutTrailingSlashes(config) + "/Tolva/" + kHive + ".reg";
}

std::string FolderOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// ---- Access, from the permission bits -------------------------------------

enum : unsigned { kRead = 4, kWrite = 2, kSearch = 1 };

bool InGroup(gid_t gid) {
  if (gid == getegid())
    return true;
  int count = getgroups(0, nullptr);
  if (count <= 0)
    return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// What the bits grant the user, decided from the bits alone: the superuser,
// to whom the system grants everything, is held to them like anyone else, as
// a key's security holds every account.
bool Grants(const struct stat &st, unsigned wanted) {
  unsigned bits = st.st_mode & 7;
  if (st.st_uid == geteuid())
    bits = (st.st_mode >> 6) & 7;
  else if (InGroup(st.st_gid))
    bits = (st.st_mode >> 3) & 7;
  return (bits & wanted) == wanted;
}

// ---- Reading and replacing the file ---------------------------------------

// Owns a file descriptor and closes it on every way out.
class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int Get() const { return fd_; }
  // Closes now, for a caller that must know whether closing worked.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

private:
  int fd_;
};

enum class Opened { kMissing, kFailed, kRead };

// Reads the store when the user has full access to it.
Opened ReadStore(const std::string &path, std::string *bytes, mode_t *mode) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? Opened::kMissing : Opened::kFailed;
  if (!S_ISREG(st.st_mode) || !Grants(st, kRead | kWrite))
    return Opened::kFailed;
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0)
    return Opened::kFailed;
  bytes->clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(file.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return Opened::kFailed;
    if (n == 0)
      break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  *mode = st.st_mode & 07777;
  return Opened::kRead;
}

// Makes a folder and its missing parents, private to the user, where the
// parent's bits allow it.
bool MakeFolders(const std::string &folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode);
  if (errno != ENOENT || folder == "/")
    return false;
  const std::string parent = FolderOf(folder);
  if (!MakeFolders(parent) || stat(parent.c_str(), &st) != 0 || !Grants(st, kWrite | kSearch))
    return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Puts the new store in place in one step: a crash, a full disk or any other
// failure leaves the old store (or none) as it was.
bool ReplaceStore(const std::string &path, const std::string &bytes, mode_t mode) {
  const std::string folder = FolderOf(path);
  struct stat st;
  if (!MakeFolders(folder) || stat(folder.c_str(), &st) != 0 || !Grants(st, kWrite | kSearch))
    return false;
  std::string temporary = folder + "/." + kHive + ".reg.XXXXXX";
  Descriptor file(mkstemp(temporary.data()));
  if (file.Get() < 0)
    return false;
  bool written = fchmod(file.Get(), mode) == 0 && WriteAll(file.Get(), bytes) && fsync(file.Get()) == 0;
  written = file.Close() && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable; the store is whole either way.
  Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0)
    fsync(dir.Get());
  return true;
}

// The file to rewrite: where the store is a symbolic link, its target.
std::optional<std::string> RealStore(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
    return path;
  char *resolved = realpath(path.c_str(), nullptr);
  if (!resolved)
    return std::nullopt;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// ---- The text ---------------------------------------------------------------

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  const char *blank = " \t\r";
  size_t first = s.find_first_not_of(blank);
  if (first == std::string_view::npos)
    return {};
  return s.substr(first, s.find_last_not_of(blank) - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = Lower(c);
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

// 1 to `maxDigits` hex digits and nothing else.
std::optional<uint32_t> HexNumber(std::string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits)
    return std::nullopt;
  uint32_t value = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0)
      return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return value;
}

// A quoted text at the start of `s`, with \\ and \" escaped; `rest` gets what
// follows the closing quote.
std::optional<std::string> Quoted(std::string_view s, std::string_view *rest) {
  if (s.empty() || s[0] != '"')
    return std::nullopt;
  std::string text;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      text += s[++i];
    } else if (s[i] == '"') {
      *rest = s.substr(i + 1);
      return text;
    } else {
      text += s[i];
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  return out + '"';
}

struct Value {
  uint32_t type = 0;
  std::string data;
};

// "01,ff,..." (an empty list is no bytes).
std::optional<std::string> HexBytes(std::string_view s) {
  std::string bytes;
  s = Trim(s);
  while (!s.empty()) {
    size_t comma = s.find(',');
    std::string_view item = Trim(s.substr(0, comma));
    auto byte = HexNumber(item, 2);
    if (!byte)
      return std::nullopt;
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos)
      break;
    s = Trim(s.substr(comma + 1));
  }
  return bytes;
}

// The data after "name"=. None for a deleted ("-") or unreadable value.
std::optional<Value> ParseData(std::string_view s) {
  s = Trim(s);
  std::string_view rest;
  if (auto text = Quoted(s, &rest)) {
    if (!Trim(rest).empty())
      return std::nullopt;
    return Value{kTypeString, *text + '\0'};
  }
  if (StartsWithNoCase(s, "dword:")) {
    auto number = HexNumber(s.substr(6), 8);
    if (!number)
      return std::nullopt;
    std::string data;
    for (int shift = 0; shift < 32; shift += 8)
      data += static_cast<char>(*number >> shift & 0xFF);
    return Value{kTypeDword, data};
  }
  uint32_t type = kTypeBinary;
  if (StartsWithNoCase(s, "hex:")) {
    s.remove_prefix(4);
  } else if (StartsWithNoCase(s, "hex(")) {
    size_t close = s.find("):");
    if (close == std::string_view::npos)
      return std::nullopt;
    auto number = HexNumber(s.substr(4, close - 4), 8);
    if (!number)
      return std::nullopt;
    type = *number;
    s.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = HexBytes(s);
  if (!bytes)
    return std::nullopt;
  return Value{type, *bytes};
}

std::string FormatData(uint32_t type, const std::string &data) {
  static const char kDigits[] = "0123456789abcdef";
  if (type == kTypeDword && data.size() == 4) {
    std::string out = "dword:";
    for (int i = 3; i >= 0; --i) {
      auto byte = static_cast<unsigned char>(data[static_cast<size_t>(i)]);
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    }
    return out;
  }
  if (type == kTypeString && !data.empty() && data.back() == '\0' &&
      data.find('\0') == data.size() - 1)
    return Quote(std::string_view(data).substr(0, data.size() - 1));
  std::string out = "hex:";
  if (type != kTypeBinary) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
    out = prefix;
  }
  for (size_t i = 0; i < data.size(); ++i) {
    auto byte = static_cast<unsigned char>(data[i]);
    if (i)
      out += ',';
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

// ---- The store's layout -------------------------------------------------------

struct Entry {
  size_t first = 0, last = 0; // its lines, continuations included
  std::string name;           // "" for the default value "@"
  std::optional<Value> value; // none: deleted or unreadable
};

struct Section {
  size_t header = 0; // the "[...]" line
  size_t end = 0;    // one past its last line
  bool ours = false; // a key of our hive (not another hive, not a deletion)
  std::string subKey;
  std::vector<Entry> entries;
};

// The lines keep their carriage returns, so that lines we do not change go
// back byte for byte; new lines follow the store's own line ends.
struct Store {
  std::vector<std::string> lines;
  bool finalNewline = true;
  std::string cr;
  std::vector<Section> sections;
};

bool SectionLine(std::string_view line, Section *section) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']')
    return false;
  std::string_view path = line.substr(1, line.size() - 2);
  size_t slash = path.find('\\');
  section->ours = SameName(path.substr(0, slash), kHive);
  section->subKey = slash == std::string_view::npos ? "" : std::string(path.substr(slash + 1));
  return true;
}

// A value line, `"name"=data` or `@=data`, with any continuation lines ("\" at
// the end of a line of hex bytes). False for anything else.
bool EntryAt(const std::vector<std::string> &lines, size_t i, Entry *entry) {
  std::string_view line = Trim(lines[i]);
  std::string_view rest;
  if (!line.empty() && line[0] == '@') {
    entry->name.clear();
    rest = line.substr(1);
  } else if (auto name = Quoted(line, &rest)) {
    entry->name = *name;
  } else {
    return false;
  }
  rest = Trim(rest);
  if (rest.empty() || rest[0] != '=')
    return false;
  std::string data(rest.substr(1));
  entry->first = entry->last = i;
  while (!data.empty() && data.back() == '\\' && entry->last + 1 < lines.size()) {
    std::string_view next = Trim(lines[entry->last + 1]);
    if (!next.empty() && std::strchr("[\"@;", next[0]))
      break;
    data.pop_back();
    data += next;
    ++entry->last;
  }
  entry->value = ParseData(data);
  return true;
}

// None for a file that is not a store of this format: it is never rewritten.
std::optional<Store> ParseStore(const std::string &bytes) {
  Store store;
  if (bytes.empty())
    return store;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) {
      store.lines.push_back(bytes.substr(start));
      store.finalNewline = false;
      break;
    }
    store.lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  std::string_view first = store.lines[0];
  if (first.substr(0, 3) == kUtf8Bom)
    first.remove_prefix(3);
  if (Trim(first) != kHeader)
    return std::nullopt;
  if (!first.empty() && first.back() == '\r')
    store.cr = "\r";
  for (size_t i = 1; i < store.lines.size(); ++i) {
    Section section;
    if (SectionLine(store.lines[i], &section)) {
      if (!store.sections.empty())
        store.sections.back().end = i;
      section.header = i;
      store.sections.push_back(section);
      continue;
    }
    Entry entry;
    if (!store.sections.empty() && EntryAt(store.lines, i, &entry)) {
      store.sections.back().entries.push_back(entry);
      i = entry.last;
    }
  }
  if (!store.sections.empty())
    store.sections.back().end = store.lines.size();
  return store;
}

std::string JoinStore(const Store &store) {
  std::string bytes;
  for (size_t i = 0; i < store.lines.size(); ++i) {
    bytes += store.lines[i];
    if (i + 1 < store.lines.size() || store.finalNewline)
      bytes += '\n';
  }
  return bytes;
}

bool IsKey(const Section &section, std::string_view subKey) {
  return section.ours && SameName(section.subKey, subKey);
}

// A key exists where it has a section of its own or a subkey has one.
bool KeyExists(const Store &store, std::string_view subKey) {
  for (const Section &section : store.sections) {
    if (!section.ours)
      continue;
    std::string_view path = section.subKey;
    if (SameName(path, subKey) ||
        (path.size() > subKey.size() && path[subKey.size()] == '\\' && StartsWithNoCase(path, subKey)))
      return true;
  }
  return false;
}

// The value as the registry sees it: a later line of the same name overrides
// an earlier one, in whichever section of the key it stands.
const Entry *FindEntry(const Store &store, std::string_view subKey, std::string_view name) {
  const Entry *found = nullptr;
  for (const Section &section : store.sections)
    if (IsKey(section, subKey))
      for (const Entry &entry : section.entries)
        if (SameName(entry.name, name))
          found = &entry;
  return found;
}

// Adds an empty section for every missing level of the path, and one for the
// key itself where it lives only through its subkeys' sections, so that it
// has a place for its values. New sections go at the end, in the style of
// the registry editor's files: each after a blank line. True when anything
// was added.
bool AddMissingLevels(Store *store, const std::string &subKey) {
  bool added = false;
  for (size_t end = subKey.find('\\');; end = subKey.find('\\', end + 1)) {
    std::string level = subKey.substr(0, end);
    bool present = end == std::string::npos
                       ? std::any_of(store->sections.begin(), store->sections.end(),
                                     [&](const Section &s) { return IsKey(s, level); })
                       : KeyExists(*store, level);
    if (!present) {
      if (store->lines.empty())
        store->lines.push_back(kHeader + store->cr);
      if (!Trim(store->lines.back()).empty())
        store->lines.push_back(store->cr);
      Section section;
      section.ours = true;
      section.subKey = level;
      section.header = store->lines.size();
      store->lines.push_back("[" + std::string(kHive) + "\\" + level + "]" + store->cr);
      store->lines.push_back(store->cr);
      section.end = store->lines.size();
      store->sections.push_back(section);
      store->finalNewline = true;
      added = true;
    }
    if (end == std::string::npos)
      break;
  }
  return added;
}

std::string ValueLine(const std::string &name, const Value &value, const std::string &cr) {
  return (name.empty() ? std::string("@") : Quote(name)) + "=" + FormatData(value.type, value.data) + cr;
}

// Writes the value's line in place of its last line so far, keeping the name
// as it was spelt there, as the registry does; or else after the last line
// of the key's last section that is not blank.
void PutValue(Store *store, const std::string &subKey, const std::string &name, const Value &value) {
  auto &lines = store->lines;
  if (const Entry *entry = FindEntry(*store, subKey, name)) {
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(entry->first + 1),
                lines.begin() + static_cast<ptrdiff_t>(entry->last + 1));
    lines[entry->first] = ValueLine(entry->name, value, store->cr);
    return;
  }
  const std::string line = ValueLine(name, value, store->cr);
  const Section *last = nullptr;
  for (const Section &section : store->sections)
    if (IsKey(section, subKey))
      last = &section;
  size_t at = last->end;
  while (at > last->header + 1 && Trim(lines[at - 1]).empty())
    --at;
  lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), line);
  store->finalNewline = true;
}

// The store as it stands, with its mode; a missing store is an empty one.
std::optional<Store> LoadStore(const std::string &path, bool allowMissing, mode_t *mode) {
  std::string bytes;
  *mode = 0600;
  Opened opened = ReadStore(path, &bytes, mode);
  if (opened == Opened::kFailed || (opened == Opened::kMissing && !allowMissing))
    return std::nullopt;
  return ParseStore(bytes);
}

} // namespace

bool OpenKey(const char *subKey, KeyHandle *key) {
  auto path = StorePath();
  if (!path)
    return false;
  mode_t mode;
  auto store = LoadStore(*path, false, &mode);
  if (!store || !KeyExists(*store, subKey))
    return false;
  *key = new KeyData{*path, subKey};
  return true;
}

bool CreateKey(const char *subKey, KeyHandle *key) {
  auto path = StorePath();
  if (!path)
    return false;
  auto real = RealStore(*path);
  if (!real)
    return false;
  mode_t mode;
  auto store = LoadStore(*real, true, &mode);
  if (!store)
    return false;
  if (AddMissingLevels(&*store, subKey) && !ReplaceStore(*real, JoinStore(*store), mode))
    return false;
  *key = new KeyData{*real, subKey};
  return true;
}

bool QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                uint32_t *size) {
  mode_t mode;
  auto store = LoadStore(key->store, false, &mode);
  if (!store)
    return false;
  const Entry *entry = FindEntry(*store, key->subKey, name);
  if (!entry || !entry->value || entry->value->data.size() > sizeof data)
    return false;
  *type = entry->value->type;
  *size = static_cast<uint32_t>(entry->value->data.size());
  std::memcpy(data, entry->value->data.data(), entry->value->data.size());
  return true;
}

bool SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
              uint32_t size) {
  mode_t mode;
  auto store = LoadStore(key->store, false, &mode);
  if (!store)
    return false;
  // A key removed since it was opened takes no values. One that lives only
  // through its subkeys' sections gets a section of its own.
  if (!KeyExists(*store, key->subKey))
    return false;
  AddMissingLevels(&*store, key->subKey);
  PutValue(&*store, key->subKey, name, Value{type, std::string(reinterpret_cast<const char *>(data), size)});
  return ReplaceStore(key->store, JoinStore(*store), mode);
}

void CloseKey(KeyHandle key) { delete key; }

} // namespace tlp::registry
