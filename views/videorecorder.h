#pragma once

// Moved to recording/videorecorder.h; this name keeps older includes building.
#include "recording/videorecorder.h"
