// Where there is no registry, the current user's hive is one text file in the
// format of Windows .reg files under the user's configuration folder, and the
// plug-in's key is a section of it, with the registry's rules: names compare
// without regard to case, reading creates nothing, and a store the system
// will not open for reading and writing is refused as a key the user may only
// read. A save changes only its own value's data, or adds its line and its
// key's section: every other byte stays, in the file's encoding (8-bit, or
// UTF-16LE with a byte-order mark as the registry editor exports) and with its
// line ends. It goes through the shared safe-write sequence, so a failed one
// leaves the old store.
#include "Store.h"
#include "SafeWrite.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>

#include <sys/stat.h>

namespace tlp::store {

namespace {

namespace fs = std::filesystem;

// The text as 16-bit units: one per byte of an 8-bit file, one per unit of a
// UTF-16 file. What we write is ASCII; every other unit goes back as it came.
using Text = std::u16string;
using View = std::u16string_view;
constexpr size_t kNone = View::npos;

const char16_t kHeader[] = u"Windows Registry Editor Version 5.00";

struct Store {
  bool utf16 = false;
  Text text;
  Text eol = u"\n"; // the store's own line end, for the lines we add
};

Text Widen(const char *s) { return Text(s, s + std::strlen(s)); }

// The key's section name, as we write it.
const Text kSection = u"HKEY_CURRENT_USER\\" + Widen(kSettingsKey);

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
  const View rest = Trim(line.substr(std::min(line.size(), name.size() + 2)));
  if (line.size() < name.size() + 2 || line[0] != u'"' || line[name.size() + 1] != u'"' ||
      !SameName(line.substr(1, name.size()), name) || rest.empty() || rest[0] != u'=')
    return std::nullopt;
  return Trim(rest.substr(1));
}

// What the store says of the key: whether it has a section of its own; where
// the value's data stands, over its continuation lines too (the last such
// value, as the registry takes it); and where a new value's line goes, after
// the last line of the key's last section that is not blank.
struct Place {
  bool own = false;
  size_t begin = kNone, end = 0, next = 0;
};

Place Find(const Text &text, View name) {
  Place place;
  bool inKey = false, continued = false;
  for (size_t at = text.find(u'\n'); at < text.size();) {
    const size_t lineEnd = std::min(text.find(u'\n', at + 1), text.size());
    const View line = Trim(View(text).substr(at + 1, lineEnd - at - 1));
    const size_t lineEndInText = static_cast<size_t>(line.data() - text.data()) + line.size();
    at = lineEnd;
    // A continuation line of our value's data is a line of the key's too.
    if (continued && !line.empty() && View(u"[\"@;").find(line[0]) == kNone)
      place.end = lineEndInText;
    else if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
      inKey = SameName(line.substr(1, line.size() - 2), kSection);
      place.own |= inKey;
    } else if (const std::optional<View> data = inKey ? ValueData(line, name) : std::nullopt) {
      place.begin = static_cast<size_t>(data->data() - text.data());
      place.end = place.begin + data->size();
    }
    continued = !line.empty() && place.end == lineEndInText && line.back() == u'\\';
    if (inKey && !line.empty())
      place.next = lineEndInText;
  }
  return place;
}

// ${XDG_CONFIG_HOME:-$HOME/.config}/Tolva/HKEY_CURRENT_USER.reg, looked up at
// each call. Relative folders are ignored, as the XDG base directory rules say;
// trailing slashes are dropped, so that messages name the file plainly.
std::optional<std::string> StorePath() {
  const char *xdg = std::getenv("XDG_CONFIG_HOME"), *home = std::getenv("HOME");
  std::string config = xdg && xdg[0] == '/' ? xdg : home && home[0] == '/' ? std::string(home) + "/.config" : "";
  if (config.empty())
    return std::nullopt;
  config.erase(config.find_last_not_of('/') + 1);
  return config + "/Tolva/HKEY_CURRENT_USER.reg";
}

// The store as it stands; a missing store is an empty one. Opening it for
// reading and writing is the access check, and never waits on a FIFO. A file
// that cannot be read whole or is of another format is not a store, and so is
// never rewritten.
bool LoadStore(const std::string &path, Store *store) {
  const std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "r+e"), std::fclose);
  struct stat st;
  if (!file)
    return errno == ENOENT;
  if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) // a FIFO or a device
    return false;
  std::string bytes;
  char chunk[4096];
  while (const size_t got = std::fread(chunk, 1, sizeof chunk, file.get()))
    bytes.append(chunk, got);
  store->utf16 = bytes.compare(0, 2, "\xFF\xFE") == 0;
  if (std::ferror(file.get()) || (store->utf16 && bytes.size() % 2))
    return false;
  for (size_t i = store->utf16 ? 2 : 0; i < bytes.size(); i += store->utf16 ? 2 : 1)
    store->text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (store->utf16 ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0));
  View first = View(store->text).substr(0, store->text.find(u'\n'));
  first.remove_prefix(first.substr(0, 3) == u"\xEF\xBB\xBF" ? 3 : 0); // UTF-8's byte-order mark
  store->eol = !first.empty() && first.back() == u'\r' ? u"\r\n" : u"\n";
  return store->text.empty() || Trim(first) == kHeader;
}

// Temporary stores that a save left when killed between naming its new store and renaming
// it (and those of earlier versions) go; one younger than a minute may belong to a save
// still at work, so it stays.
void RemoveStaleTemporaries(const std::string &folder) {
  const std::regex temporary(R"(\.HKEY_CURRENT_USER\.reg\.([A-Za-z0-9]{6}|[A-Za-z0-9]{8}\.tmp))");
  const auto minuteAgo = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  std::error_code ec; // an iterator that fails becomes the end
  for (fs::directory_iterator it(folder, ec), end; it != end; it.increment(ec))
    if (std::regex_match(it->path().filename().string(), temporary) &&
        it->symlink_status(ec).type() == fs::file_type::regular && it->last_write_time(ec) < minuteAgo && !ec)
      fs::remove(it->path(), ec);
}

// Saves the new store through the shared safe-write sequence: a crash, a
// full disk or any other failure leaves the old store (or none) as it was.
bool ReplaceStore(const std::string &path, const Store &store) {
  const std::string folder = path.substr(0, path.find_last_of('/'));
  std::error_code made;
  fs::create_directories(fs::path(folder).parent_path(), made);
  if (made || (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST))
    return false;
  // Earlier versions left theirs beside the file that a symbolic link names.
  const std::string target = safe_write::FollowLinks(path);
  RemoveStaleTemporaries(target.substr(0, target.find_last_of('/')));
  std::vector<uint8_t> bytes = store.utf16 ? std::vector<uint8_t>{0xFF, 0xFE} : std::vector<uint8_t>();
  for (char16_t c : store.text) {
    const uint8_t unit[2] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
    bytes.insert(bytes.end(), unit, unit + (store.utf16 ? 2 : 1));
  }
  return safe_write::WriteWhole(path, bytes, /*ownerOnly=*/true) == 0;
}

} // namespace

std::optional<uint32_t> LoadDword(const char *name) {
  const std::optional<std::string> path = StorePath();
  Store store;
  if (!path || !LoadStore(*path, &store))
    return std::nullopt;
  const Place place = Find(store.text, Widen(name));
  // "dword:" and 1 to 8 hex digits. Data in any other form (text, hex bytes)
  // is of a type the store does not keep.
  const View form = View(store.text).substr(std::min(place.begin, store.text.size()), place.end - place.begin);
  const View digits = form.substr(std::min<size_t>(6, form.size()));
  if (place.begin == kNone || !SameName(form.substr(0, 6), u"dword:") || digits.empty() || digits.size() > 8 ||
      digits.find_first_not_of(u"0123456789abcdefABCDEF") != kNone)
    return std::nullopt;
  return static_cast<uint32_t>(std::stoul(std::string(digits.begin(), digits.end()), nullptr, 16));
}

bool SaveDword(const char *name, uint32_t value) {
  // Where the store is a symbolic link, both read and write its target.
  const std::optional<std::string> path = StorePath();
  Store store;
  if (!path || !LoadStore(*path, &store))
    return false;
  // A key without a section of its own gets one at the end, after a blank
  // line, as the registry editor writes them; it makes every level of its
  // path exist.
  Text &text = store.text;
  if (!Find(text, u"").own) {
    if (text.empty())
      text = kHeader + store.eol;
    if (text.back() != u'\n')
      text += store.eol;
    if (!Trim(View(text).substr(text.find_last_of(u'\n', text.size() - 2) + 1)).empty())
      text += store.eol;
    text += u"[" + kSection + u"]" + store.eol + store.eol;
  }
  const Text before = text;
  char dword[16];
  std::snprintf(dword, sizeof dword, "dword:%08x", value);
  // In place of the old data, keeping the rest of its line (and the name's
  // spelling there), or else as a new line.
  const Place place = Find(text, Widen(name));
  if (place.begin != kNone)
    text.replace(place.begin, place.end - place.begin, Widen(dword));
  else
    text.insert(place.next, store.eol + u"\"" + Widen(name) + u"\"=" + Widen(dword));
  // A store that would not change is not written: every save flushes the disk.
  return text == before || ReplaceStore(*path, store);
}

std::string Where() {
  const std::optional<std::string> path = StorePath();
  return path ? "'" + *path + "'" : "the settings store: neither XDG_CONFIG_HOME nor HOME names a folder for it";
}

} // namespace tlp::store
