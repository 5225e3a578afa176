// The host's own window and the plug-in's options panel inside it: the few
// window operations tga-host needs, on the system's window library on Windows
// and on our headless stand-in elsewhere.
#pragma once

#include <string>
#include <vector>

namespace hostwin {

using Wnd = void *; // HWND on Windows, TlpHwnd elsewhere

// A top-level window as large as the panel's design and a margin, at the
// screen's corner; null when it cannot be made.
Wnd MakeHostWindow(bool visible);
void DestroyHostWindow(Wnd w);
bool Exists(Wnd w);
std::vector<Wnd> Children(Wnd w);
std::string Text(Wnd w);
bool Checked(Wnd w);
void Click(Wnd w);
// Dispatches every message waiting for this thread.
void PumpMessages();
// "WxH+X+Y" of the window on the screen.
std::string ScreenRect(Wnd w);

// The radio buttons of the panel in `host`, top to bottom; empty when there
// is no panel of the expected shape (one child holding one group box).
std::vector<Wnd> PanelButtons(Wnd host);

} // namespace hostwin
