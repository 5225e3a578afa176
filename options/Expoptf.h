// Unit Expoptf: the export options panel, a borderless child window that
// holds the radio group of conversion methods. What it decides apart from its
// windows is in PanelModel.h; its windows are made, placed, checked and
// released here, once for every platform, through tlpwin.
#pragma once

#include "PanelModel.h"
#include "TlpWin.h"

#include <vector>

class TPluginApplication;

// The options panel: the radio group of conversion methods in a borderless
// child window of the host's.
class TExportOptionForm final : private tlpwin::Handler {
public:
  // Builds the panel inside OptionParentWindow, shows it and gives it to
  // `owner`; throws when it cannot be made, and then nothing of it is left.
  explicit TExportOptionForm(TPluginApplication &owner);
  // Leaves its owner and destroys its windows; on another thread, where they
  // cannot be destroyed, it cuts them loose from this module.
  ~TExportOptionForm();
  TExportOptionForm(const TExportOptionForm &) = delete;
  TExportOptionForm &operator=(const TExportOptionForm &) = delete;

  void SelectItem(int index);
  int ItemIndex() const { return TGAConvMethodRG.selected; }
  // The window goes when the host's message loop next runs, not here.
  void Release();
  // Until the release has been processed.
  bool HasWindow() const { return panel_ != nullptr; }

  // The radio group: its layout and selection. Its windows are below.
  OptionPanelModel TGAConvMethodRG;

private:
  bool MakeWindows();
  void Apply(OptionPanelModel::CheckChange change);
  void Clicked(tlpwin::Window self, int id) override;
  void Received(tlpwin::Window self, uint32_t message) override;
  void Destroyed(tlpwin::Window self) override;

  TPluginApplication &owner_;
  tlpwin::Window panel_ = nullptr;
  tlpwin::Window buttons_[OptionPanelModel::kItemCount] = {};
  tlpwin::Font font_ = nullptr;
};

// The module's application object: the host's application window handed over
// by EXPORT_EnterOption, and the owner of every panel made.
class TPluginApplication {
public:
  TPluginApplication() = default;
  TPluginApplication(const TPluginApplication &) = delete;
  TPluginApplication &operator=(const TPluginApplication &) = delete;

  void *Handle = nullptr;

  // Makes a panel owned by this object; throws when it cannot be made. Once
  // the new panel stands, the panels whose windows are gone are dropped.
  TExportOptionForm *CreateForm();
  // Destroys every panel and their window class: the module is about to be
  // unloaded.
  void Free();

private:
  friend class TExportOptionForm;
  // Room for one more panel, so that taking a finished one in cannot fail.
  void Reserve();
  void Insert(TExportOptionForm *form) { forms_->push_back(form); }
  void Remove(TExportOptionForm *form);

  // Made with the first panel and never destroyed with the module's statics:
  // when the process ends the windows go with it.
  std::vector<TExportOptionForm *> *forms_ = nullptr;
};

extern TPluginApplication Application;

// The window that the next panel is created in.
extern void *OptionParentWindow;

extern "C" {
// The panel created last; exported under this name as a data symbol.
extern TExportOptionForm *_ExportOptionForm;
}
inline TExportOptionForm *&ExportOptionForm = _ExportOptionForm;

// Destroys the panels left before the module is unloaded and unregisters
// their window class (PLUGOUTCALLBACK).
void FreeOptionPanels();
