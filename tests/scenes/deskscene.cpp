#include "scenes/deskscene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace {

const cv::Scalar kDeskColour(58, 66, 74);
const cv::Scalar kPaperColour(236, 238, 240);
const cv::Scalar kInkColour(60, 50, 40);
constexpr double kDeskNoise = 6.0;

cv::Point toPoint(const cv::Point2f &p)
{
    return cv::Point(cvRound(p.x), cvRound(p.y));
}

void drawSheet(cv::Mat &frame, const DeskSheet &sheet)
{
    const cv::RotatedRect rect(sheet.centre, sheet.size, sheet.angle);
    cv::Point2f corners[4];
    rect.points(corners);
    std::vector<cv::Point> poly;
    for (const auto &c : corners)
        poly.push_back(toPoint(c));
    cv::fillConvexPoly(frame, poly, kPaperColour, cv::LINE_8);

    // Printed lines run along the sheet's width, inside a margin.
    const double a = sheet.angle * CV_PI / 180.0;
    const cv::Point2f along(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
    const cv::Point2f down(-along.y, along.x);
    const float margin = std::min(sheet.size.width, sheet.size.height) * 0.12f;
    const float half = sheet.size.width / 2 - margin;
    const float spacing = std::max(8.0f, sheet.size.height / 18.0f);
    const int thickness = std::max(1, cvRound(spacing / 6));
    int line = 0;
    for (float y = -sheet.size.height / 2 + margin; y < sheet.size.height / 2 - margin; y += spacing, ++line) {
        const float length = (line % 4 == 3) ? half : 2 * half; // some lines end early, like paragraphs
        const cv::Point2f start = sheet.centre + down * y - along * half;
        cv::line(frame, toPoint(start), toPoint(start + along * length), kInkColour, thickness, cv::LINE_AA);
    }
}

} // namespace

cv::Mat drawDeskScene(cv::Size frameSize, const std::vector<DeskSheet> &sheets, unsigned seed)
{
    cv::Mat desk(frameSize, CV_16SC3, kDeskColour);
    cv::Mat noise(frameSize, CV_16SC3);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(kDeskNoise));
    desk += noise;
    cv::Mat frame;
    desk.convertTo(frame, CV_8UC3);
    for (const auto &sheet : sheets)
        drawSheet(frame, sheet);
    return frame;
}

std::vector<DeskSheet> demoSheets(cv::Size frameSize)
{
    const float w = static_cast<float>(frameSize.width);
    const float h = static_cast<float>(frameSize.height);
    return {
        {{w * 0.22f, h * 0.50f}, {w * 0.26f, h * 0.62f}, 0.0f},
        {{w * 0.52f, h * 0.48f}, {w * 0.20f, h * 0.50f}, 12.0f},
        {{w * 0.80f, h * 0.40f}, {w * 0.22f, h * 0.36f}, 0.0f},
    };
}

const std::vector<DeskKind> &deskKinds()
{
    static const std::vector<DeskKind> kinds = {{"dark", DeskSurface::Dark},
                                                {"oak", DeskSurface::Oak},
                                                {"white", DeskSurface::White},
                                                {"black", DeskSurface::Black},
                                                {"patterned", DeskSurface::Patterned}};
    return kinds;
}

const std::vector<SkinTone> &skinTones()
{
    static const std::vector<SkinTone> tones = {{"very-light", {200, 220, 250}}, {"light", {160, 190, 235}},
                                                {"medium", {120, 160, 215}},     {"tan", {85, 130, 190}},
                                                {"brown", {55, 90, 145}},        {"very-dark", {35, 45, 70}}};
    return tones;
}

cv::Mat drawDesk(cv::Size frameSize, DeskSurface surface, unsigned seed)
{
    if (surface == DeskSurface::Dark)
        return drawDeskScene(frameSize, {}, seed);
    cv::RNG rng(seed);
    cv::Mat desk(frameSize, CV_32FC3);
    switch (surface) {
    case DeskSurface::Oak: {
        // Honey oak: bands of grain along the boards, wavering, with darker streaks.
        const cv::Vec3f light(92, 158, 212), dark(62, 118, 176);
        const double phase = rng.uniform(0.0, 6.3);
        for (int y = 0; y < frameSize.height; ++y) {
            cv::Vec3f *row = desk.ptr<cv::Vec3f>(y);
            for (int x = 0; x < frameSize.width; ++x) {
                const double u = y * 0.045 + 2.0 * std::sin(x * 0.004 + phase) + 0.6 * std::sin(x * 0.019);
                const double grain = 0.5 + 0.35 * std::sin(u) + 0.15 * std::sin(u * 3.7);
                row[x] = light * static_cast<float>(grain) + dark * static_cast<float>(1.0 - grain);
            }
        }
        break;
    }
    case DeskSurface::White:
    case DeskSurface::Black:
        desk.setTo(surface == DeskSurface::White ? cv::Scalar(228, 232, 236) : cv::Scalar(22, 22, 24));
        break;
    case DeskSurface::Patterned: {
        // Gingham: red stripes both ways over white, pink where they cross one way.
        const int cell = std::max(8, frameSize.width / 24);
        for (int y = 0; y < frameSize.height; ++y) {
            cv::Vec3f *row = desk.ptr<cv::Vec3f>(y);
            for (int x = 0; x < frameSize.width; ++x) {
                const int stripes = ((x / cell) % 2) + ((y / cell) % 2);
                row[x] = stripes == 2 ? cv::Vec3f(50, 50, 190) : stripes == 1 ? cv::Vec3f(140, 140, 230)
                                                                               : cv::Vec3f(235, 235, 240);
            }
        }
        break;
    }
    default:
        break;
    }
    cv::Mat noise(frameSize, CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(kDeskNoise));
    desk += noise;
    cv::Mat out;
    desk.convertTo(out, CV_8UC3);
    return out;
}

namespace {

const cv::Scalar kCoverColour(40, 62, 105);
constexpr double kSensorNoise = 2.5;
constexpr double kHandShadow = 0.35;

// Words of a page: ink boxes whose lengths the page number decides.
void drawPageWords(cv::Mat &frame, const cv::Rect2f &sheet, int page, const cv::Rect &clip)
{
    cv::RNG rng(0x9e37u + static_cast<unsigned>(page) * 7919u);
    const float margin = sheet.width * 0.1f;
    const float lineStep = sheet.height / 22.0f;
    const float wordHeight = lineStep * 0.55f;
    cv::Mat view = frame(clip);
    for (float y = sheet.y + margin; y + wordHeight < sheet.y + sheet.height - margin; y += lineStep) {
        float x = sheet.x + margin + (rng.uniform(0, 4) == 0 ? sheet.width * 0.05f : 0.0f);
        const float end = sheet.x + sheet.width - margin;
        while (true) {
            const float length = sheet.width * static_cast<float>(rng.uniform(0.03, 0.12));
            if (x + length > end)
                break;
            cv::rectangle(view, cv::Point(cvRound(x - clip.x), cvRound(y - clip.y)),
                          cv::Point(cvRound(x + length - clip.x), cvRound(y + wordHeight - clip.y)), kInkColour,
                          cv::FILLED, cv::LINE_AA);
            x += length + sheet.width * 0.02f;
        }
    }
}

// A palm, four fingers and a thumb, lighter in the middle than at its edges,
// with a soft shadow below and to the right.
void drawHand(cv::Mat &frame, cv::Point2f centre, float size, const cv::Scalar &skin)
{
    cv::Mat shape = cv::Mat::zeros(frame.size(), CV_8U);
    const cv::Point c(cvRound(centre.x), cvRound(centre.y));
    cv::ellipse(shape, c, cv::Size(cvRound(size * 0.5f), cvRound(size * 0.6f)), 0, 0, 360, cv::Scalar(255), cv::FILLED,
                cv::LINE_AA);
    for (int finger = 0; finger < 4; ++finger) {
        const cv::Point tip(cvRound(centre.x - size * (0.35f - finger * 0.23f)), cvRound(centre.y - size * 0.9f));
        cv::ellipse(shape, tip, cv::Size(cvRound(size * 0.09f), cvRound(size * 0.4f)), 0, 0, 360, cv::Scalar(255),
                    cv::FILLED, cv::LINE_AA);
    }
    cv::ellipse(shape, cv::Point(cvRound(centre.x + size * 0.55f), cvRound(centre.y - size * 0.1f)),
                cv::Size(cvRound(size * 0.1f), cvRound(size * 0.32f)), -35, 0, 360, cv::Scalar(255), cv::FILLED,
                cv::LINE_AA);
    const double soft = std::max(1.0, size * 0.04);
    cv::Mat shadow, roundness;
    const cv::Mat offset = (cv::Mat_<double>(2, 3) << 1, 0, size * 0.08, 0, 1, size * 0.08);
    cv::warpAffine(shape, shadow, offset, shape.size());
    cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), soft * 2);
    cv::GaussianBlur(shape, roundness, cv::Size(0, 0), soft);

    // Only the hand's neighbourhood changes.
    cv::Mat any = shape | shadow;
    const cv::Rect area = cv::boundingRect(any);
    for (int y = area.y; y < area.y + area.height; ++y) {
        cv::Vec3b *px = frame.ptr<cv::Vec3b>(y);
        const uchar *in = shape.ptr<uchar>(y), *dim = shadow.ptr<uchar>(y), *round = roundness.ptr<uchar>(y);
        for (int x = area.x; x < area.x + area.width; ++x) {
            const double lit = 1.0 - kHandShadow * dim[x] / 255.0;
            const double cover = in[x] / 255.0, shade = 0.8 + 0.2 * round[x] / 255.0;
            for (int ch = 0; ch < 3; ++ch)
                px[x][ch] = cv::saturate_cast<uchar>(px[x][ch] * lit * (1 - cover) + skin[ch] * shade * cover);
        }
    }
}

// The desk under a drawn sequence never changes; drawing wood grain for every frame would.
cv::Mat cachedDesk(cv::Size frameSize, DeskSurface surface)
{
    static std::mutex lock;
    static std::map<std::pair<int, DeskSurface>, cv::Mat> desks;
    const std::lock_guard<std::mutex> hold(lock);
    cv::Mat &desk = desks[{frameSize.width * 100000 + frameSize.height, surface}];
    if (desk.empty())
        desk = drawDesk(frameSize, surface);
    return desk.clone();
}

} // namespace

cv::Mat drawBookView(cv::Size frameSize, const BookView &view, unsigned noiseSeed)
{
    cv::Mat frame = cachedDesk(frameSize, view.desk);
    const float w = static_cast<float>(frameSize.width);
    const float h = static_cast<float>(frameSize.height);
    const cv::Rect2f sheet(w * 0.3f + view.shift.x, h * 0.08f + view.shift.y, w * 0.4f, h * 0.84f);
    if (view.cover) {
        const float rim = h * 0.03f;
        cv::rectangle(frame, cv::Point(cvRound(sheet.x - rim), cvRound(sheet.y - rim)),
                      cv::Point(cvRound(sheet.x + sheet.width + rim), cvRound(sheet.y + sheet.height + rim)),
                      kCoverColour, cv::FILLED);
    }
    cv::rectangle(frame, cv::Point(cvRound(sheet.x), cvRound(sheet.y)),
                  cv::Point(cvRound(sheet.x + sheet.width), cvRound(sheet.y + sheet.height)), kPaperColour,
                  cv::FILLED);

    const double turned = std::clamp(view.turned, 0.0, 1.0);
    const int edge = cvRound(sheet.x + sheet.width * (1.0 - turned));
    const cv::Rect all(0, 0, frameSize.width, frameSize.height);
    const cv::Rect left = cv::Rect(0, 0, std::clamp(edge, 0, frameSize.width), frameSize.height) & all;
    const cv::Rect right = cv::Rect(left.width, 0, frameSize.width - left.width, frameSize.height) & all;
    if (left.area() > 0)
        drawPageWords(frame, sheet, view.page, left);
    if (right.area() > 0 && turned > 0.0)
        drawPageWords(frame, sheet, view.page + 1, right);
    if (turned > 0.0 && turned < 1.0) {
        // The lifted leaf: a shaded band that is widest halfway through the turn.
        const float band = static_cast<float>(sheet.width * 0.35 * std::sin(CV_PI * turned));
        const std::vector<cv::Point> leaf = {
            {edge, cvRound(sheet.y)},
            {cvRound(edge - band), cvRound(sheet.y - h * 0.04f)},
            {cvRound(edge - band), cvRound(sheet.y + sheet.height + h * 0.04f)},
            {edge, cvRound(sheet.y + sheet.height)}};
        cv::fillConvexPoly(frame, leaf, cv::Scalar(200, 204, 208), cv::LINE_AA);
    }
    if (view.hand.x >= 0 && view.hand.y >= 0)
        drawHand(frame, view.hand, h * 0.3f, view.skin);

    if (view.light != 1.0 || view.tint != cv::Scalar(1, 1, 1))
        cv::multiply(frame, view.tint * view.light, frame);
    if (noiseSeed != 0) {
        cv::Mat noisy(frameSize, CV_16SC3), noise(frameSize, CV_16SC3);
        frame.convertTo(noisy, CV_16SC3);
        cv::RNG rng(noiseSeed);
        rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(kSensorNoise));
        noisy += noise;
        noisy.convertTo(frame, CV_8UC3);
    }
    return frame;
}
