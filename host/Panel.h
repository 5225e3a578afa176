// The plug-in's options panel as tga-host shows it: EXPORT_EnterOption in a
// top-level window of the host's own, the user's clicks on its items,
// EXPORT_LeaveOption, and the host's message loop that carries its release
// out. Through tlpwin: the system's windows on Windows, the headless stand-in
// elsewhere.
#pragma once

#include "PluginLoader.h"
#include "TlpWin.h"

#include <string>
#include <vector>

// The plug-in's texts are code page 932; terminals want UTF-8 (posix/ and
// win32/ Text.cpp).
std::string SjisToUtf8(const std::string &sjis);

class HostPanel {
public:
  // Opens the panel in a new window of the host, shown on the screen when
  // `visible`. Error() says what went wrong when it did not open.
  HostPanel(const PluginApi &api, bool visible);
  // Opens the panel in `parent`, a window that the caller keeps, inside the
  // host's top-level window `application`.
  HostPanel(const PluginApi &api, tlpwin::Window application, tlpwin::Window parent) : api_(api) {
    Open(application, parent);
  }
  // Leaves the panel if that was not done (the plug-in requires it once for
  // every entry), without taking its selection, and destroys the window it
  // made.
  ~HostPanel();
  HostPanel(const HostPanel &) = delete;
  HostPanel &operator=(const HostPanel &) = delete;

  // Empty when the panel is open with an item for each method.
  const std::string &Error() const { return error_; }
  // The checked item, -1 for none.
  int Checked() const {
    for (size_t k = 0; k < items_.size(); ++k)
      if (tlpwin::IsChecked(items_[k]))
        return static_cast<int>(k);
    return -1;
  }
  // The text of item k, in UTF-8.
  std::string Item(int k) const { return SjisToUtf8(tlpwin::Text(ItemWindow(k))); }
  void Click(int k) { tlpwin::Click(ItemWindow(k)); }
  // Runs the host's message loop for `seconds`, the panel on the screen.
  void Hold(int seconds);
  // EXPORT_LeaveOption, once, and one turn of the message loop; false when
  // the panel is still there after it.
  bool Leave(bool accept);

  // The item's window, top to bottom.
  tlpwin::Window ItemWindow(int k) const { return items_[static_cast<size_t>(k)]; }

private:
  void Open(tlpwin::Window application, tlpwin::Window parent);

  const PluginApi &api_;
  tlpwin::Window window_ = nullptr; // made here, destroyed here
  tlpwin::Window panel_ = nullptr;
  std::vector<tlpwin::Window> items_; // top to bottom
  bool left_ = true;
  std::string error_;
};

// Opens the panel in a hidden window, clicks the item of `method` and
// accepts it. The plug-in then reports that method's code until it is
// unloaded; nothing is stored unless the host calls PLUGOUTCALLBACK
// afterwards. False with `error` set when the panel did not open.
bool ChooseMethodOnPanel(const PluginApi &api, int method, std::string *error);
