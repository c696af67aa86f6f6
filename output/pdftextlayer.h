#pragma once

// Moved to documents/pdftextlayer.h; this name keeps older includes building.
#include "documents/pdftextlayer.h"
