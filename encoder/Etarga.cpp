#include "Etarga.h"
