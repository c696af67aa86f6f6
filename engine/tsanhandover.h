#pragma once

// Moved to sanitizers/tsanhandover.h; this name keeps older includes building.
#include "sanitizers/tsanhandover.h"
