// The plug-in's options panel as tga-host shows it: EXPORT_EnterOption in a
// window of the options dialog (Dialog.h), the user's clicks on its items,
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
  // Opens the panel in `parent`, a window that the caller keeps, inside the
  // host's top-level window `application`. Error() says what went wrong when
  // it did not open.
  HostPanel(const PluginApi &api, tlpwin::Window application, tlpwin::Window parent);
  // Leaves the panel if that was not done (the plug-in requires it once for
  // every entry), without taking its selection.
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
  // EXPORT_LeaveOption, once, and one turn of the message loop; false when
  // the panel is still there after it.
  bool Leave(bool accept);

  // The item's window, top to bottom.
  tlpwin::Window ItemWindow(int k) const { return items_[static_cast<size_t>(k)]; }

private:
  const PluginApi &api_;
  tlpwin::Window panel_ = nullptr;
  std::vector<tlpwin::Window> items_; // top to bottom
  bool left_ = true;
  std::string error_;
};

