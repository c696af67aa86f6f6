#include "app/logging.h"

Q_LOGGING_CATEGORY(lcCamera, "vorlant.camera")
Q_LOGGING_CATEGORY(lcCapture, "vorlant.capture")
Q_LOGGING_CATEGORY(lcRecording, "vorlant.recording")
Q_LOGGING_CATEGORY(lcDocuments, "vorlant.documents")
Q_LOGGING_CATEGORY(lcOcr, "vorlant.ocr")
Q_LOGGING_CATEGORY(lcSettings, "vorlant.settings")
Q_LOGGING_CATEGORY(lcStartup, "vorlant.startup")

void quietDebugLines()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vorlant.*.debug=false\nvorlant.*.info=false"));
}
