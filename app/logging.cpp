#include "app/logging.h"

Q_LOGGING_CATEGORY(lcCamera, "vorlant.camera", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCapture, "vorlant.capture", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecording, "vorlant.recording", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDocuments, "vorlant.documents", QtWarningMsg)
Q_LOGGING_CATEGORY(lcOcr, "vorlant.ocr", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "vorlant.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStartup, "vorlant.startup", QtWarningMsg)
