#pragma once

// Moved to documents/documentwriter.h; this name keeps older includes building.
#include "documents/documentwriter.h"
