#include "Expoptf.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

const char kPanelCaption[] = "ExportOptionForm";
// "ＭＳ Ｐゴシック"
const char kPanelFontFace[] = "\x82l\x82r \x82o\x83S\x83V\x83" "b\x83N";
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

// --- OptionPanelModel ---

int32_t OptionPanelModel::MulDiv(int32_t a, int32_t n, int32_t d) {
  if (d == 0)
    return -1;
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
  clientWidth = kDesignClientWidth;
  clientHeight = kDesignClientHeight;
  if (textHeight == kDesignTextHeight)
    return;
  auto scale = [&](int32_t v) { return MulDiv(v, textHeight, kDesignTextHeight); };
  group = PanelRect{scale(group.left), scale(group.top), scale(group.width), scale(group.height)};
  clientWidth = scale(clientWidth);
  clientHeight = scale(clientHeight);
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

// --- TExportOptionForm ---

void *OptionParentWindow = nullptr;
TPluginApplication Application;

extern "C" {
TExportOptionForm *_ExportOptionForm = nullptr;
}

TExportOptionForm::TExportOptionForm(TPluginApplication &) {
  font_ = panel_window::CreatePanelFont(
      OptionPanelModel::FontHeightAt(panel_window::ScreenPixelsPerInch()));
  if (!font_)
    throw std::runtime_error("cannot make the panel's font");
  TGAConvMethodRG.ScaleToTextHeight(panel_window::TextHeight(font_));
  if (!panel_window::Create(windows_, this, OptionParentWindow, TGAConvMethodRG, font_)) {
    panel_window::DeleteFont(font_);
    throw std::runtime_error("cannot make the panel's window");
  }
}

TExportOptionForm::~TExportOptionForm() {
  if (windows_.panel)
    panel_window::Destroy(windows_.panel);
  // A window that could not be destroyed may still draw with the font.
  if (!windows_.panel && font_)
    panel_window::DeleteFont(font_);
}

void TExportOptionForm::SelectItem(int index) { Apply(TGAConvMethodRG.Select(index)); }

void TExportOptionForm::Release() {
  if (windows_.panel)
    panel_window::PostRelease(windows_.panel);
}

void TExportOptionForm::Clicked(int item) { Apply(TGAConvMethodRG.Click(item)); }

void TExportOptionForm::Destroyed() {
  windows_ = panel_window::Windows();
  panel_window::DeleteFont(font_);
  font_ = nullptr;
}

void TExportOptionForm::Apply(OptionPanelModel::CheckChange change) {
  if (!windows_.panel)
    return;
  if (change.uncheck >= 0)
    panel_window::SetCheck(windows_.buttons[change.uncheck], false);
  if (change.check >= 0)
    panel_window::SetCheck(windows_.buttons[change.check], true);
}

// --- TPluginApplication ---

TExportOptionForm *TPluginApplication::CreateForm() {
  auto form = std::make_unique<TExportOptionForm>(*this);
  TExportOptionForm *made = form.get();
  // Only once a panel stands: nothing is left allocated by one that failed.
  if (!forms_)
    forms_ = new std::vector<std::unique_ptr<TExportOptionForm>>;
  forms_->reserve(forms_->size() + 1);
  // Released panels are kept until now so that ExportOptionForm, which is not
  // cleared at the release, never refers to a deleted object.
  forms_->erase(std::remove_if(forms_->begin(), forms_->end(),
                               [](const std::unique_ptr<TExportOptionForm> &f) { return !f->HasWindow(); }),
                forms_->end());
  forms_->push_back(std::move(form));
  return made;
}

void TPluginApplication::Free() {
  ExportOptionForm = nullptr;
  delete forms_;
  forms_ = nullptr;
  panel_window::UnregisterPanelClass();
}

void FreeOptionPanels() { Application.Free(); }
