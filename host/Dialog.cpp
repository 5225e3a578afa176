#include "Dialog.h"

namespace {

const char kClass[] = "TgaHostDialog";
const char kTitle[] = "Targa export options";

// At 96 pixels per inch: the panel's place is the size the plug-in's panel
// is designed for; the buttons sit below it, right-aligned with its group.
const int32_t kPlaceWidth = 283, kPlaceHeight = 159;
const int32_t kButtonWidth = 75, kButtonHeight = 23, kGap = 6, kMargin = 8, kGroupRight = 249;
const int32_t kFontHeight = -12;
const int32_t kDefaultCharset = 1;

int32_t Scaled(int32_t v) {
  const int64_t dpi = tlpwin::ScreenPixelsPerInch();
  const int64_t p = int64_t(v) * dpi;
  return static_cast<int32_t>((p < 0 ? p - 48 : p + 48) / 96);
}

} // namespace

OptionsDialog::OptionsDialog(const PluginApi &api, bool visible) : api_(api) {
  tlpwin::RegisterWindowClass(kClass, kClass); // fails harmlessly when already registered
  const int32_t width = Scaled(kPlaceWidth), placeHeight = Scaled(kPlaceHeight);
  const int32_t buttonWidth = Scaled(kButtonWidth), buttonHeight = Scaled(kButtonHeight);
  const tlpwin::Rect client{0, 0, width, placeHeight + buttonHeight + Scaled(kMargin)};

  // A dialog's frame and title, a control parent for the keys.
  tlpwin::WindowSpec frame;
  frame.className = kClass;
  frame.module = kClass;
  frame.text = kTitle;
  frame.style = tlpwin::kPopup | tlpwin::kCaption | tlpwin::kSysMenu | (visible ? tlpwin::kVisible : 0);
  frame.exStyle = tlpwin::kExControlParent | tlpwin::kExDialogFrame;
  frame.rect = tlpwin::FrameAround(client, frame.style, frame.exStyle);
  frame.handler = this;
  window_ = tlpwin::Create(frame);
  font_ = tlpwin::MakeFont(Scaled(kFontHeight), kDefaultCharset, "MS Shell Dlg");

  // The plug-in's panel fills the window it is given: a place of its own,
  // first in the tab order, through which the keys reach it.
  tlpwin::WindowSpec place;
  place.className = kClass;
  place.module = kClass;
  place.style = tlpwin::kChild | tlpwin::kVisible;
  place.exStyle = tlpwin::kExControlParent;
  place.rect = tlpwin::Rect{0, 0, width, placeHeight};
  place.parent = window_;
  place_ = window_ ? tlpwin::Create(place) : nullptr;

  panel_ = std::make_unique<HostPanel>(api_, window_, place_);
  error_ = panel_->Error();

  // OK starts a group of its own, so the arrows stay in the panel's.
  tlpwin::WindowSpec button;
  button.parent = window_;
  button.font = font_;
  const int32_t right = Scaled(kGroupRight);
  const int32_t top = placeHeight;
  button.text = "OK";
  button.style = tlpwin::kChild | tlpwin::kVisible | tlpwin::kTabStop | tlpwin::kGroup | tlpwin::kDefPushButton;
  button.rect = tlpwin::Rect{right - 2 * buttonWidth - Scaled(kGap), top, buttonWidth, buttonHeight};
  button.id = tlpwin::kOkId;
  ok_ = error_.empty() ? tlpwin::Create(button) : nullptr;
  button.text = "Cancel";
  button.style = tlpwin::kChild | tlpwin::kVisible | tlpwin::kTabStop | tlpwin::kPushButton;
  button.rect.left = right - buttonWidth;
  button.id = tlpwin::kCancelId;
  cancel_ = ok_ ? tlpwin::Create(button) : nullptr;
  if (error_.empty() && !cancel_)
    error_ = "cannot make the dialog's buttons";
  if (error_.empty())
    tlpwin::FocusFirstTabStop(window_);
}

OptionsDialog::~OptionsDialog() {
  if (!finished_)
    Finish();
  panel_.reset();
  if (window_)
    tlpwin::Destroy(window_);
  tlpwin::FreeFont(font_);
}

void OptionsDialog::Run() { tlpwin::RunDialog(window_, answered_); }

bool OptionsDialog::Finish() {
  finished_ = true;
  return panel_->Leave(answer_ == Answer::kOk);
}

void OptionsDialog::Clicked(tlpwin::Window, int id) {
  if (answered_ || (id != tlpwin::kOkId && id != tlpwin::kCancelId))
    return;
  answer_ = id == tlpwin::kOkId ? Answer::kOk : Answer::kCancel;
  answered_ = true;
}

void OptionsDialog::Destroyed(tlpwin::Window self) {
  if (self == window_)
    window_ = nullptr;
}
