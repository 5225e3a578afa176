#include "Expoptf.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace {

const char kPanelCaption[] = "ExportOptionForm"; // never visible: there is no caption bar
// "ＭＳ Ｐゴシック"
const char kPanelFontFace[] = "\x82l\x82r \x82o\x83S\x83V\x83" "b\x83N";
const int32_t kShiftJisCharset = 128;
// "変換方式"
const char kConvMethodCaption[] = "\x95\xcf\x8a\xb7\x95\xfb\x8e\xae";
const char *const kConvMethodItems[OptionPanelModel::kItemCount] = {
    // "全てフルカラー"
    "\x91S\x82\xc4\x83t\x83\x8b\x83J\x83\x89\x81[",
    // "全てハイカラー"
    "\x91S\x82\xc4\x83n\x83" "C\x83J\x83\x89\x81[",
    // "フルカラー と 可能ならば、256色 を使う"
    "\x83t\x83\x8b\x83J\x83\x89\x81[ \x82\xc6 \x89\xc2\x94\x5c\x82\xc8\x82\xe7\x82\xce\x81" "A256\x90"
    "F \x82\xf0\x8eg\x82\xa4",
    // "ハイカラー と 可能ならば、256色 を使う"
    "\x83n\x83" "C\x83J\x83\x89\x81[ \x82\xc6 \x89\xc2\x94\x5c\x82\xc8\x82\xe7\x82\xce\x81" "A256\x90"
    "F \x82\xf0\x8eg\x82\xa4",
    // "最適化 256色"
    "\x8d\xc5\x93K\x89\xbb 256\x90" "F",
    // "ウィンドウズパレット 256色 強制変換"
    "\x83" "E\x83" "B\x83\x93\x83h\x83" "E\x83Y\x83p\x83\x8c\x83" "b\x83g 256\x90"
    "F \x8b\xad\x90\xa7\x95\xcf\x8a\xb7",
};

// The panel's window class is this module's own; any address in the module
// names the module.
const char kClassName[] = "TExportOptionForm";
const void *const kModule = kClassName;
bool g_classRegistered = false;

// No caption, no frame, no pop-up style: a plain child of the host's window.
const uint32_t kPanelStyle = tlpwin::kChild | tlpwin::kVisible | tlpwin::kClipSiblings | tlpwin::kClipChildren;
static_assert(kPanelStyle == 0x56000000, "the panel's style");
const uint32_t kButtonStyle = tlpwin::kChild | tlpwin::kVisible;
// The keyboard reaches the radio buttons through the panel and the group box,
// as a dialog's own controls: Tab stops at the group, at its checked item
// (which alone carries the tab stop) or at the first when none is; the
// arrows move the selection within it, by automatic radio buttons that
// report their click as the mouse's does.
const uint32_t kKeyboardParent = tlpwin::kExControlParent;
const uint32_t kItemStyle = kButtonStyle | tlpwin::kAutoRadioButton;
// The panel's private message: destroy yourself. The class is the module's
// own, so a number from the class's private range is safe.
const uint32_t kReleaseMessage = tlpwin::kFirstPrivateMessage + 0x100;
const int kGroupId = 1;
const int kFirstButtonId = 0x100;

} // namespace

void *OptionParentWindow = nullptr;
TPluginApplication Application;

extern "C" {
TExportOptionForm *_ExportOptionForm = nullptr;
}

// --- TExportOptionForm ---

TExportOptionForm::TExportOptionForm(TPluginApplication &owner) : owner_(owner) {
  owner.Reserve();
  font_ = tlpwin::MakeFont(OptionPanelModel::FontHeightAt(tlpwin::ScreenPixelsPerInch()),
                           kShiftJisCharset, kPanelFontFace);
  if (!font_)
    throw std::runtime_error("cannot make the panel's font");
  TGAConvMethodRG.ScaleToTextHeight(tlpwin::TextHeight(font_));
  if (!MakeWindows()) {
    tlpwin::FreeFont(font_);
    throw std::runtime_error("cannot make the panel's window");
  }
  owner.Insert(this);
}

TExportOptionForm::~TExportOptionForm() {
  owner_.Remove(this);
  // A window that cannot be destroyed from here may still draw with the font.
  if (panel_ && !tlpwin::Destroy(panel_))
    tlpwin::Detach(panel_);
}

// The panel fills its parent's client area; the group box and its radio
// buttons sit where the layout puts them.
bool TExportOptionForm::MakeWindows() {
  if (!g_classRegistered)
    g_classRegistered = tlpwin::RegisterWindowClass(kClassName, kModule);
  tlpwin::Rect client; // at the parent's top-left corner, as large as its client area
  if (!g_classRegistered || !tlpwin::ClientArea(OptionParentWindow, &client))
    return false;
  tlpwin::WindowSpec spec{kClassName, kModule, kPanelCaption, kPanelStyle, kKeyboardParent, client};
  spec.parent = OptionParentWindow;
  spec.font = font_;
  spec.handler = this;
  tlpwin::Window panel = tlpwin::Create(spec);
  if (!panel)
    return false;
  auto button = [&](tlpwin::Window parent, int id, const char *text, uint32_t style, uint32_t exStyle,
                    const PanelRect &r) {
    const tlpwin::Rect place{r.left, r.top, r.width, r.height};
    return tlpwin::Create({tlpwin::kButtonClass, nullptr, text, style, exStyle, place, parent, id, font_, nullptr});
  };
  tlpwin::Window group = button(panel, kGroupId, kConvMethodCaption, kButtonStyle | tlpwin::kGroupBox,
                                kKeyboardParent, TGAConvMethodRG.group);
  bool made = group != nullptr;
  for (int k = 0; k < OptionPanelModel::kItemCount && made; ++k) {
    const uint32_t style = kItemStyle | (k == 0 ? tlpwin::kGroup | tlpwin::kTabStop : 0);
    buttons_[k] = button(group, kFirstButtonId + k, kConvMethodItems[k], style, 0, TGAConvMethodRG.Button(k));
    made = buttons_[k] != nullptr;
  }
  if (!made) {
    // Nothing of a half-made panel stays, and its end is not reported.
    tlpwin::Detach(panel);
    tlpwin::Destroy(panel);
    return false;
  }
  panel_ = panel;
  return true;
}

void TExportOptionForm::SelectItem(int index) { Apply(TGAConvMethodRG.Select(index)); }

void TExportOptionForm::Release() {
  if (panel_)
    tlpwin::Post(panel_, kReleaseMessage);
}

// Only the opening selection and clicks come here, while the panel stands:
// a change always checks an item. Every other item is unchecked, as the
// system checks a radio button in a group: the first item then gives up the
// tab stop it starts with.
void TExportOptionForm::Apply(OptionPanelModel::CheckChange change) {
  for (int k = 0; k < OptionPanelModel::kItemCount && change.check >= 0; ++k)
    tlpwin::SetCheck(buttons_[k], k == change.check);
}

void TExportOptionForm::Clicked(tlpwin::Window, int id) { Apply(TGAConvMethodRG.Click(id - kFirstButtonId)); }

void TExportOptionForm::Received(tlpwin::Window self, uint32_t message) {
  if (message == kReleaseMessage)
    tlpwin::Destroy(self);
}

void TExportOptionForm::Destroyed(tlpwin::Window) {
  panel_ = nullptr;
  std::fill(std::begin(buttons_), std::end(buttons_), nullptr);
  tlpwin::FreeFont(font_);
  font_ = nullptr;
}

// --- TPluginApplication ---

void TPluginApplication::Reserve() {
  if (!forms_)
    forms_ = new std::vector<TExportOptionForm *>;
  forms_->reserve(forms_->size() + 1);
}

void TPluginApplication::Remove(TExportOptionForm *form) {
  forms_->erase(std::remove(forms_->begin(), forms_->end(), form), forms_->end());
}

TExportOptionForm *TPluginApplication::CreateForm() {
  TExportOptionForm *made = new TExportOptionForm(*this);
  // Released panels are kept until now so that ExportOptionForm, which is not
  // cleared at the release, never refers to a deleted object.
  for (size_t i = forms_->size(); i-- > 0;)
    if ((*forms_)[i] != made && !(*forms_)[i]->HasWindow())
      delete (*forms_)[i];
  return made;
}

void TPluginApplication::Free() {
  ExportOptionForm = nullptr;
  while (forms_ && !forms_->empty())
    delete forms_->back();
  delete forms_;
  forms_ = nullptr;
  // Called by the host through an export, so the host's own reference keeps
  // the module loaded while the class lets it go.
  if (g_classRegistered && tlpwin::UnregisterWindowClass(kClassName, kModule))
    g_classRegistered = false;
}

void FreeOptionPanels() { Application.Free(); }
