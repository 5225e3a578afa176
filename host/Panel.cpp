#include "Panel.h"

#include "Methods.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

HostPanel::HostPanel(const PluginApi &api, bool visible) : api_(api) {
  // A bordered pop-up as large as the panel's design and a margin, at the
  // screen's corner.
  static const char kClass[] = "TgaHostWindow";
  tlpwin::RegisterWindowClass(kClass, kClass); // fails harmlessly when already registered
  const uint32_t style = tlpwin::kPopup | tlpwin::kBorder | (visible ? tlpwin::kVisible : 0u);
  window_ = tlpwin::Create({kClass, kClass, "tga-host", style, 0, tlpwin::Rect{0, 0, 300, 180}});
  Open(window_, window_);
}

void HostPanel::Open(tlpwin::Window application, tlpwin::Window parent) {
  if (!parent) {
    error_ = "cannot make a window for the plug-in's panel";
    return;
  }
  api_.EXPORT_EnterOption(application, parent, 0);
  left_ = false;
  // The panel's shape: one child of the host window holding one group box.
  std::vector<tlpwin::Window> panels = tlpwin::Children(parent);
  std::vector<tlpwin::Window> groups = panels.size() == 1 ? tlpwin::Children(panels[0]) : panels;
  if (panels.size() == 1 && groups.size() == 1) {
    panel_ = panels[0];
    items_ = tlpwin::Children(groups[0]);
    std::sort(items_.begin(), items_.end(), [](tlpwin::Window a, tlpwin::Window b) {
      return tlpwin::Placement(a).top < tlpwin::Placement(b).top;
    });
  }
  if (items_.size() != static_cast<size_t>(kMethodCount))
    error_ = "the plug-in's options panel did not appear in the host window";
}

HostPanel::~HostPanel() {
  if (!left_)
    Leave(false);
  if (window_)
    tlpwin::Destroy(window_);
}

void HostPanel::Hold(int seconds) {
  const tlpwin::Rect r = tlpwin::Placement(window_);
  std::printf("holding the panel window at %dx%d+%d+%d for %d s\n", r.width, r.height, r.left, r.top,
              seconds);
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    tlpwin::PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool HostPanel::Leave(bool accept) {
  if (!left_) {
    api_.EXPORT_LeaveOption(accept ? 1 : 0);
    left_ = true;
    tlpwin::PumpMessages(); // the panel's release is posted
  }
  return !panel_ || !tlpwin::Exists(panel_);
}

bool ChooseMethodOnPanel(const PluginApi &api, int method, std::string *error) {
  HostPanel panel(api, false);
  *error = panel.Error();
  if (error->empty()) {
    panel.Click(method);
    panel.Leave(true);
  }
  return error->empty();
}
