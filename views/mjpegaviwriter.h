#pragma once

// Moved to recording/mjpegaviwriter.h; this name keeps older includes building.
#include "recording/mjpegaviwriter.h"
