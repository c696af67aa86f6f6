#pragma once

// Moved to scenes/deskscene.h; this name keeps older includes building.
#include "scenes/deskscene.h"
