// Unit Expoptf: the export options panel, a borderless child window that
// holds the radio group of conversion methods.
#pragma once

#include <cstdint>

class TExportOptionForm;

extern "C" {
// The panel created last; exported under this name as a data symbol.
extern TExportOptionForm *_ExportOptionForm;
}
