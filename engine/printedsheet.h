#pragma once

// Moved to scenes/printedsheet.h; this name keeps older includes building.
#include "scenes/printedsheet.h"
