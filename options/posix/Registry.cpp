// Where there is no registry, the current user's hive is one text file in the
// format of Windows .reg files, under the user's configuration folder. It
// keeps 4-byte REG_DWORDs, all the setting needs, with the registry's rules:
// names compare without regard to case, reading creates nothing, full access
// is refused where the system will not open the file for reading and writing,
// and failures come back as the registry's codes. A save changes only its own
// value's data, or adds its line and its key's section: every other byte
// stays, in the file's encoding (8-bit, or UTF-16LE with a byte-order mark as
// the registry editor exports) and with its line ends. The save goes through
// the shared safe-write sequence, so a failed one leaves the old store.
#include "Registry.h"
#include "SafeWrite.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlp::registry {

struct KeyData {
  std::string store;     // the store file
  std::u16string subKey; // the key's path below the hive
};

namespace {

namespace fs = std::filesystem;

// The text as 16-bit units: one per byte of an 8-bit file, one per unit of a
// UTF-16 file. What we write is ASCII; every other unit goes back as it came.
using Text = std::u16string;
using View = std::u16string_view;
constexpr size_t kNone = View::npos;

const char kTemporaryPrefix[] = ".HKEY_CURRENT_USER.reg.";
const char16_t kHive[] = u"HKEY_CURRENT_USER\\";
const char16_t kHeader[] = u"Windows Registry Editor Version 5.00";

struct Store {
  bool utf16 = false;
  Text text;
  Text eol = u"\n";   // the store's own line end, for the lines we add
};

Status FromErrno(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? kAccessDenied
         : error == ENOENT                                   ? kFileNotFound
                                                             : kIoFailed;
}

Text Widen(const char *s) { return Text(s, s + std::strlen(s)); }

bool SameName(View a, View b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// Blanks off both ends. A blank text stays where it was, so that a position
// in the store can be taken from what is left.
View Trim(View s) {
  const size_t first = s.find_first_not_of(u" \t\r\n");
  return first == kNone ? s.substr(s.size()) : s.substr(first, s.find_last_not_of(u" \t\r\n") - first + 1);
}

// The data of a line `"name"=data`. Our names hold no quote or backslash, so
// a name written with escapes is never ours.
std::optional<View> ValueData(View line, View name) {
  if (line.size() < name.size() + 2 || line[0] != u'"' || line[name.size() + 1] != u'"' ||
      !SameName(line.substr(1, name.size()), name))
    return std::nullopt;
  const View rest = Trim(line.substr(name.size() + 2));
  if (rest.empty() || rest[0] != u'=')
    return std::nullopt;
  return Trim(rest.substr(1));
}

// What the store says of a key: whether a section names it or a subkey of it
// (a key exists wherever a subkey does) and whether one names the key itself;
// where the value's data stands, over its continuation lines too (the last
// such value, as the registry takes it); and where a new value's line goes,
// after the last line of the key's last section that is not blank.
struct Place {
  bool exists = false, own = false;
  size_t begin = kNone, end = 0, next = 0;
};

Place Find(const Text &text, View subKey, View name) {
  Place place;
  bool inKey = false, continued = false;
  for (size_t at = text.find(u'\n'); at < text.size();) {
    const size_t lineEnd = std::min(text.find(u'\n', at + 1), text.size());
    const View line = Trim(View(text).substr(at + 1, lineEnd - at - 1));
    const size_t lineEndInText = static_cast<size_t>(line.data() - text.data()) + line.size();
    at = lineEnd;
    if (continued && !line.empty() && View(u"[\"@;").find(line[0]) == kNone) {
      place.end = place.next = lineEndInText;
      continued = line.back() == u'\\';
      continue;
    }
    continued = false;
    if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
      const View key = line.substr(1, line.size() - 2), hive = kHive;
      const View path = SameName(key.substr(0, hive.size()), hive) ? key.substr(hive.size()) : View();
      inKey = SameName(path, subKey);
      place.own |= inKey;
      place.exists |= inKey || (path.size() > subKey.size() && path[subKey.size()] == u'\\' &&
                                SameName(path.substr(0, subKey.size()), subKey));
    } else if (const std::optional<View> data = inKey ? ValueData(line, name) : std::nullopt) {
      place.begin = static_cast<size_t>(data->data() - text.data());
      place.end = place.begin + data->size();
      continued = !data->empty() && data->back() == u'\\';
    }
    if (inKey && !line.empty())
      place.next = lineEndInText;
  }
  return place;
}

// Gives the key a section of its own where it has none: at the end, after a
// blank line, as the registry editor writes them. Its section makes every
// level of its path exist. True when the section was added.
bool AddSection(Store *store, View subKey) {
  Text &text = store->text;
  if (Find(text, subKey, u"").own)
    return false;
  if (text.empty())
    text = kHeader + store->eol;
  if (text.back() != u'\n')
    text += store->eol;
  if (!Trim(View(text).substr(text.find_last_of(u'\n', text.size() - 2) + 1)).empty())
    text += store->eol;
  text += u"[" + Text(kHive) + Text(subKey) + u"]" + store->eol + store->eol;
  return true;
}

// The store as it stands; a missing store is an empty one. Opening it for
// reading and writing is the access check, and never waits on a FIFO. A file
// of another format is not a store, and so is never rewritten.
Status LoadStore(const std::string &path, Store *store) {
  const std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "r+e"), std::fclose);
  struct stat st;
  if (!file)
    return errno == ENOENT ? kSuccess : FromErrno(errno);
  if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) // a FIFO or a device
    return kBadDb;
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    return kIoFailed;
  store->utf16 = bytes.compare(0, 2, "\xFF\xFE") == 0;
  if (store->utf16 && bytes.size() % 2)
    return kBadDb;
  for (size_t i = store->utf16 ? 2 : 0; i < bytes.size(); i += store->utf16 ? 2 : 1)
    store->text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (store->utf16 ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0));
  View first = View(store->text).substr(0, store->text.find(u'\n'));
  if (first.substr(0, 3) == u"\xEF\xBB\xBF") // UTF-8's byte-order mark
    first.remove_prefix(3);
  if (!first.empty() && first.back() == u'\r')
    store->eol = u"\r\n";
  return store->text.empty() || Trim(first) == kHeader ? kSuccess : kBadDb;
}

// Temporary stores that earlier versions left when killed before their rename go; one younger
// than a minute may belong to a save still at work, so it stays.
void RemoveStaleTemporaries(const std::string &folder) {
  const std::string prefix = kTemporaryPrefix;
  const auto minuteAgo = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  std::error_code ec; // an iterator that fails becomes the end
  for (fs::directory_iterator it(folder, ec), end; it != end; it.increment(ec)) {
    const std::string name = it->path().filename();
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                               prefix.size()) == std::string::npos &&
        it->symlink_status(ec).type() == fs::file_type::regular && it->last_write_time(ec) < minuteAgo && !ec)
      fs::remove(it->path(), ec);
  }
}

// Saves the new store through the shared safe-write sequence: a crash, a
// full disk or any other failure leaves the old store (or none) as it was.
Status ReplaceStore(const std::string &path, const Store &store) {
  const std::string folder = path.substr(0, path.find_last_of('/'));
  std::error_code made;
  fs::create_directories(fs::path(folder).parent_path(), made);
  if (made || (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST))
    return FromErrno(made ? made.value() : errno);
  RemoveStaleTemporaries(folder);
  std::vector<uint8_t> bytes;
  if (store.utf16)
    bytes = {0xFF, 0xFE};
  for (char16_t c : store.text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    if (store.utf16)
      bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  const int error = safe_write::WriteWhole(path, bytes, /*ownerOnly=*/true);
  return error == 0 ? kSuccess : FromErrno(error == safe_write::kNameChanged ? EIO : error);
}

} // namespace

// ${XDG_CONFIG_HOME:-$HOME/.config}/Tolva/HKEY_CURRENT_USER.reg, looked up at
// each call. Relative folders are ignored, as the XDG base directory rules say;
// trailing slashes are dropped, so that messages name the file plainly.
std::optional<std::string> StorePath() {
  const char *xdg = std::getenv("XDG_CONFIG_HOME"), *home = std::getenv("HOME");
  std::string config;
  if (xdg && xdg[0] == '/')
    config = xdg;
  else if (home && home[0] == '/')
    config = std::string(home) + "/.config";
  else
    return std::nullopt;
  while (!config.empty() && config.back() == '/')
    config.pop_back();
  return config + "/Tolva/HKEY_CURRENT_USER.reg";
}

namespace {

Status Open(const char *subKey, bool create, KeyHandle *key) {
  std::optional<std::string> path = StorePath();
  if (!path)
    return kPathNotFound;
  // Where the store is a symbolic link, the file a save replaces is its target.
  struct stat st;
  std::error_code ec;
  if (lstat(path->c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    path = fs::canonical(*path, ec).string();
  Store store;
  Status status = ec ? FromErrno(ec.value()) : LoadStore(*path, &store);
  if (status == kSuccess && !create && !Find(store.text, Widen(subKey), u"").exists)
    status = kFileNotFound;
  if (status == kSuccess && create && AddSection(&store, Widen(subKey)))
    status = ReplaceStore(*path, store);
  if (status == kSuccess)
    *key = new KeyData{*path, Widen(subKey)};
  return status;
}

} // namespace

Status OpenKey(const char *subKey, KeyHandle *key) { return Open(subKey, false, key); }

Status CreateKey(const char *subKey, KeyHandle *key) { return Open(subKey, true, key); }

Status QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                  uint32_t *size) {
  Store store;
  if (const Status loaded = LoadStore(key->store, &store); loaded != kSuccess)
    return loaded;
  const Place place = Find(store.text, key->subKey, Widen(name));
  if (place.begin == kNone)
    return kFileNotFound;
  // "dword:" and 1 to 8 hex digits. Data in any other form (text, hex bytes)
  // is of a type the store does not keep: it reads as a value without data.
  const View form = View(store.text).substr(place.begin, place.end - place.begin);
  const View digits = form.substr(std::min<size_t>(6, form.size()));
  const bool dword = SameName(form.substr(0, 6), u"dword:") && !digits.empty() && digits.size() <= 8 &&
                     digits.find_first_not_of(u"0123456789abcdefABCDEF") == kNone;
  const std::string hex(digits.begin(), digits.end());
  const uint32_t value = dword ? static_cast<uint32_t>(std::stoul(hex, nullptr, 16)) : 0;
  *type = dword ? kTypeDword : kTypeNone;
  *size = dword ? 4 : 0;
  for (int i = 0; dword && i < 4; ++i)
    data[i] = static_cast<uint8_t>(value >> 8 * i);
  return kSuccess;
}

Status SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
                uint32_t size) {
  if (type != kTypeDword || size != 4 || std::strpbrk(name, "\"\\"))
    return kNotSupported;
  Store store;
  if (const Status loaded = LoadStore(key->store, &store); loaded != kSuccess)
    return loaded;
  // A key removed since it was opened takes no values. One that lives only
  // through its subkeys' sections gets a section of its own.
  if (!Find(store.text, key->subKey, u"").exists)
    return kKeyDeleted;
  AddSection(&store, key->subKey);
  char dword[16];
  std::snprintf(dword, sizeof dword, "dword:%02x%02x%02x%02x", data[3], data[2], data[1], data[0]);
  const Text value = Widen(dword);
  // In place of the old data, keeping the rest of its line (and the name's
  // spelling there), or else as a new line.
  const Place place = Find(store.text, key->subKey, Widen(name));
  if (place.begin != kNone)
    store.text.replace(place.begin, place.end - place.begin, value);
  else
    store.text.insert(place.next, store.eol + u"\"" + Widen(name) + u"\"=" + value);
  return ReplaceStore(key->store, store);
}

Status CloseKey(KeyHandle key) {
  delete key;
  return kSuccess;
}

} // namespace tlp::registry
