#pragma once

#include <QLoggingCategory>

// The program's debug lines, by subject. The program shows only warnings
// unless asked, e.g. QT_LOGGING_RULES="vorlant.*.debug=true"; tests and tools
// that never call quietDebugLines() see every line.
Q_DECLARE_LOGGING_CATEGORY(lcCamera)    // vorlant.camera: discovery, opening, controls
Q_DECLARE_LOGGING_CATEGORY(lcCapture)   // vorlant.capture: the capture loop, photographs
Q_DECLARE_LOGGING_CATEGORY(lcRecording) // vorlant.recording: video files
Q_DECLARE_LOGGING_CATEGORY(lcDocuments) // vorlant.documents: PDF, TIFF and merged images
Q_DECLARE_LOGGING_CATEGORY(lcOcr)       // vorlant.ocr: text recognition
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // vorlant.settings: the settings file
Q_DECLARE_LOGGING_CATEGORY(lcStartup)   // vorlant.startup: start-up, signals, recovery

// Turns the program's debug lines off; rules from QT_LOGGING_RULES or
// QT_LOGGING_CONF still win, so a user can bring them back.
void quietDebugLines();
