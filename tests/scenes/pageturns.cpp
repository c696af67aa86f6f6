#include "scenes/pageturns.h"

PageTurnScript &PageTurnScript::still(int frames)
{
    return with(m_look, frames);
}

PageTurnScript &PageTurnScript::with(BookView view, int frames)
{
    view.page = m_page;
    view.desk = m_look.desk;
    view.skin = m_look.skin;
    view.cover = m_look.cover;
    for (int i = 0; i < frames; ++i)
        m_views.push_back(view);
    return *this;
}

PageTurnScript &PageTurnScript::turn(int enter, int sweep, int leave, int pauseFrames)
{
    const float w = m_size.width, h = m_size.height;
    const float handY = h * 0.6f;
    const float pageRight = w * 0.7f, pageLeft = w * 0.3f;
    for (int i = 1; i <= enter; ++i)
        add(0.0, {w * 1.1f + (pageRight - w * 1.1f) * i / enter, handY});
    for (int i = 1; i < sweep; ++i) {
        const double t = static_cast<double>(i) / sweep;
        const cv::Point2f hand(static_cast<float>(pageRight + (pageLeft - pageRight) * t), handY);
        add(t, hand);
        if (2 * i == sweep)
            for (int p = 0; p < pauseFrames; ++p)
                add(t, hand);
    }
    ++m_page;
    for (int i = 1; i <= leave; ++i)
        add(0.0, {pageLeft + (-w * 0.2f - pageLeft) * i / leave, handY});
    return *this;
}

PageTurnScript &PageTurnScript::handRests(int frames)
{
    const cv::Point2f onPage(m_size.width * 0.55f, m_size.height * 0.7f);
    for (int i = 1; i <= 5; ++i)
        add(0.0, {onPage.x + m_size.width * 0.1f * (5 - i), onPage.y});
    for (int i = 0; i < frames; ++i)
        add(0.0, onPage);
    for (int i = 1; i <= 5; ++i)
        add(0.0, {onPage.x + m_size.width * 0.1f * i, onPage.y});
    return *this;
}

void PageTurnScript::add(double turned, cv::Point2f hand)
{
    BookView v = m_look;
    v.page = m_page;
    v.turned = turned;
    v.hand = hand;
    m_views.push_back(v);
}

bool sameView(const BookView &a, const BookView &b)
{
    return a.page == b.page && a.turned == b.turned && a.hand == b.hand && a.shift == b.shift && a.light == b.light &&
           a.desk == b.desk && a.skin == b.skin && a.cover == b.cover;
}
