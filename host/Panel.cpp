#include "Panel.h"

#include "Methods.h"

#include <algorithm>

HostPanel::HostPanel(const PluginApi &api, tlpwin::Window application, tlpwin::Window parent) : api_(api) {
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
}

bool HostPanel::Leave(bool accept) {
  if (!left_) {
    api_.EXPORT_LeaveOption(accept ? 1 : 0);
    left_ = true;
    tlpwin::PumpMessages(); // the panel's release is posted
  }
  return !panel_ || !tlpwin::Exists(panel_);
}
