#include "Dtarga.h"
