#pragma once

#include "engine/ocrlines.h"

#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <array>
#include <vector>

// The files of the text models, as the build writes them into the model folder.
constexpr char kDetectionModelFile[] = "text_detection.onnx";
constexpr char kRecognitionModelFile[] = "text_recognition.onnx";
constexpr char kRecognitionKeysFile[] = "text_keys.txt";
// The model folder's name beside the worker.
constexpr char kModelFolderName[] = "ocr-models";

// The folder named by VORLANT_OCR_MODELS, else the one beside the worker in
// `workerDir`; empty when it lacks any of the three files.
QString findModelFolder(const QString &workerDir);

// One line of text found by the detector: its corners clockwise from the top
// left, in pixels of the picture it was found in, and the mean probability
// inside it.
struct TextQuad {
    std::array<cv::Point2f, 4> corners;
    double score = 0.0;
};

// How far a text region found at size w x h is grown on each side: the
// detector marks a shrunken core of each line.
double unclipDistance(double width, double height);

// The text lines in the detector's probability map (one float channel),
// their corners scaled by `scale` (map pixels to picture pixels).
std::vector<TextQuad> quadsFromProbability(const cv::Mat &probability, cv::Point2d scale);

// The recogniser's greedy reading: the likeliest key at each step, repeats
// and blanks (index 0) dropped; index k > 0 is keys[k - 1], the index past
// the keys a space. `confidence` is the mean probability of the kept steps.
struct DecodedLine {
    QString text;
    double confidence = 0.0;
    QStringList characters; // the keys read, in order
    std::vector<int> steps; // the step at which each was read
};
DecodedLine decodeGreedy(const cv::Mat &steps, const QStringList &keys);

// Puts a space between two Latin letters or digits read on either side of a
// gap in the ink wider than a word space: the recogniser, trained mostly on
// Chinese, drops most of them. `ink` is the line as read (8-bit grey, dark
// print), each step `stepWidth` of its columns wide.
QString withWordSpaces(const DecodedLine &line, const cv::Mat &ink, int stepWidth);

// Reads pages with the text detection and recognition models.
class ModelTextReader {
public:
    // Loads the three files from `folder`; false with `error` set when one is
    // missing or unreadable.
    bool load(const QString &folder, QString *error);
    // The lines of a BGR page picture, top to bottom and left to right,
    // each with its bounding box in the picture's pixels.
    bool read(const cv::Mat &bgr, QList<OcrLine> *lines, QString *error);

private:
    DecodedLine readLine(const cv::Mat &line);

    cv::dnn::Net m_detector;
    cv::dnn::Net m_recogniser;
    QStringList m_keys;
};
