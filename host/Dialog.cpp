#include "Dialog.h"

#include <cstdio>

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

OptionsDialog::OptionsDialog(const PluginApi &api, bool visible) {
  tlpwin::RegisterWindowClass(kClass, kClass); // fails harmlessly when already registered
  const int32_t width = Scaled(kPlaceWidth), placeHeight = Scaled(kPlaceHeight);
  const int32_t buttonWidth = Scaled(kButtonWidth), buttonHeight = Scaled(kButtonHeight);
  const tlpwin::Rect client{0, 0, width, placeHeight + buttonHeight + Scaled(kMargin)};

  // A dialog's frame and title, a control parent for the keys.
  const uint32_t style =
      tlpwin::kPopup | tlpwin::kCaption | tlpwin::kSysMenu | (visible ? tlpwin::kVisible : 0u);
  const uint32_t exStyle = tlpwin::kExControlParent | tlpwin::kExDialogFrame;
  window_ = tlpwin::Create({kClass, kClass, kTitle, style, exStyle,
                            tlpwin::FrameAround(client, style, exStyle), nullptr, 0, nullptr, this});
  font_ = tlpwin::MakeFont(Scaled(kFontHeight), kDefaultCharset, "MS Shell Dlg");

  // The plug-in's panel fills the window it is given: a place of its own,
  // first in the tab order, through which the keys reach it.
  const tlpwin::Rect place{0, 0, width, placeHeight};
  place_ = window_ ? tlpwin::Create({kClass, kClass, "", tlpwin::kChild | tlpwin::kVisible,
                                     tlpwin::kExControlParent, place, window_})
                   : nullptr;
  panel_ = std::make_unique<HostPanel>(api, window_, place_);
  error_ = panel_->Error();

  // OK starts a group of its own, so the arrows stay in the panel's.
  const int32_t right = Scaled(kGroupRight);
  const auto makeButton = [&](const char *text, uint32_t style, int32_t left, int id) {
    return tlpwin::Create({tlpwin::kButtonClass, nullptr, text,
                           tlpwin::kChild | tlpwin::kVisible | tlpwin::kTabStop | style, 0,
                           tlpwin::Rect{left, placeHeight, buttonWidth, buttonHeight}, window_, id, font_});
  };
  ok_ = error_.empty() ? makeButton("OK", tlpwin::kGroup | tlpwin::kDefPushButton,
                                    right - 2 * buttonWidth - Scaled(kGap), tlpwin::kOkId)
                       : nullptr;
  cancel_ = ok_ ? makeButton("Cancel", tlpwin::kPushButton, right - buttonWidth, tlpwin::kCancelId) : nullptr;
  if (error_.empty() && !cancel_)
    error_ = "cannot make the dialog's buttons";
  if (error_.empty())
    tlpwin::FocusFirstTabStop(window_);
}

OptionsDialog::~OptionsDialog() {
  panel_.reset(); // before its window
  if (window_)
    tlpwin::Destroy(window_);
  tlpwin::FreeFont(font_);
}

namespace {

// Opens the dialog, lets `answer` give OK or Cancel, runs its loop until
// one is given and leaves the panel.
bool Answered(const PluginApi &api, bool visible, const std::function<void(OptionsDialog &)> &give,
              DialogAnswer *answer, std::string *error) {
  OptionsDialog dialog(api, visible);
  *error = dialog.Error();
  if (!error->empty())
    return false;
  HostPanel &panel = dialog.Panel();
  answer->opened = panel.Checked();
  answer->openedItem = answer->opened >= 0 ? panel.Item(answer->opened) : "";
  give(dialog);
  dialog.Run();
  answer->ok = dialog.Given() == OptionsDialog::Answer::kOk;
  answer->checked = panel.Checked();
  answer->checkedItem = answer->checked >= 0 ? panel.Item(answer->checked) : "";
  if (!dialog.Finish())
    std::fprintf(stderr, "tga-host: the panel is still there after the message loop ran\n");
  return true;
}

} // namespace

bool AnswerDialog(const PluginApi &api, int method, DialogAnswer *answer, std::string *error) {
  return Answered(
      api, false,
      [method](OptionsDialog &dialog) {
        if (method >= 0)
          dialog.Panel().Click(method);
        tlpwin::Click(dialog.Button(method >= 0 ? tlpwin::kOkId : tlpwin::kCancelId));
      },
      answer, error);
}

bool ShowDialog(const PluginApi &api, const std::function<void(tlpwin::Rect)> &waiting, DialogAnswer *answer,
                std::string *error) {
  return Answered(
      api, true, [&](OptionsDialog &dialog) { waiting(tlpwin::Placement(dialog.Window())); }, answer, error);
}
