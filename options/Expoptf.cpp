#include "Expoptf.h"

extern "C" {
TExportOptionForm *_ExportOptionForm = nullptr;
}
