#include "ocr/textrecognition.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <memory>

bool recogniseTextLines(const cv::Mat &picture, QList<OcrLine> *lines, QString *error)
{
    lines->clear();
    if (picture.empty() || picture.depth() != CV_8U || (picture.channels() != 1 && picture.channels() != 3)) {
        *error = QStringLiteral("unusable picture");
        return false;
    }
    cv::Mat grey;
    if (picture.channels() == 3)
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    else
        grey = picture.isContinuous() ? picture : picture.clone();

    tesseract::TessBaseAPI api;
    if (api.Init(nullptr, kOcrLanguage, tesseract::OEM_LSTM_ONLY) != 0) {
        *error = QStringLiteral("the %1 language data could not be loaded").arg(QLatin1String(kOcrLanguage));
        return false;
    }
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetImage(grey.data, grey.cols, grey.rows, 1, static_cast<int>(grey.step));
    if (api.Recognize(nullptr) != 0) {
        *error = QStringLiteral("recognition failed");
        return false;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return true; // nothing on the page
    const tesseract::PageIteratorLevel level = tesseract::RIL_TEXTLINE;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(level));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!text || !it->BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        const QString tidy = tidyRecognisedSpacing(QString::fromUtf8(text.get()));
        if (!tidy.isEmpty() && right > left && bottom > top)
            lines->append({QRect(left, top, right - left, bottom - top), tidy});
    } while (it->Next(level));
    return true;
}
