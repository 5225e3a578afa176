#include "PanelModel.h"

#include <algorithm>

int32_t OptionPanelModel::MulDiv(int32_t a, int32_t n, int32_t d) {
  int64_t p = static_cast<int64_t>(a) * n;
  int64_t dd = d < 0 ? -static_cast<int64_t>(d) : d;
  int64_t q = ((p < 0 ? -p : p) + dd / 2) / dd;
  return static_cast<int32_t>((p < 0) != (d < 0) ? -q : q);
}

int32_t OptionPanelModel::FontHeightAt(int32_t pixelsPerInch) {
  return MulDiv(kDesignFontHeight, pixelsPerInch, kDesignPixelsPerInch);
}

void OptionPanelModel::ScaleToTextHeight(int32_t measured) {
  textHeight = measured > 0 ? measured : kDesignTextHeight;
  group = kDesignGroup;
  if (textHeight == kDesignTextHeight)
    return;
  auto scale = [&](int32_t v) { return MulDiv(v, textHeight, kDesignTextHeight); };
  group = PanelRect{scale(group.left), scale(group.top), scale(group.width), scale(group.height)};
}

PanelRect OptionPanelModel::Button(int k) const {
  // One column: the rows share what is left below the caption line; the
  // remainder is split above and below them.
  int32_t room = group.height - textHeight - 5;
  int32_t rowHeight = room / kItemCount;
  int32_t top = textHeight + 1 + (room % kItemCount) / 2 + k * rowHeight;
  return PanelRect{8, top, group.width - 10, rowHeight};
}

OptionPanelModel::CheckChange OptionPanelModel::Select(int index) {
  int v = std::min(std::max(index, -1), kItemCount - 1);
  CheckChange change;
  if (v == selected)
    return change;
  change.uncheck = selected;
  selected = v;
  change.check = v;
  return change;
}
