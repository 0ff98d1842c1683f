#include "runtime/caption.h"

#include "runtime/accessible.h"
#include "runtime/twips.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ferro {

Caption::Caption(QWidget *parent, const QString &text, Qt::Alignment align, Sizing sizing)
    : QWidget(parent)
    , m_text(text)
    , m_align(align)
    , m_sizing(sizing)
{
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    installAccessibleInterfaces();
}

void Caption::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    relayout();
    update();
    announceAccessibleChange(this);
}

void Caption::setTwipsGeometry(int left, int top, int width, int height)
{
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    relayout();
}

void Caption::setTwipsLeft(int left)
{
    m_left = left;
    relayout();
}

void Caption::setTwipsTop(int top)
{
    m_top = top;
    relayout();
}

void Caption::setColours(const QColor &background, const QColor &foreground)
{
    m_background = background;
    m_foreground = foreground;
    update();
}

void Caption::relayout()
{
    QRect r = twipsRect(m_left, m_top, m_width, m_height);
    const int textWidth = m_text.isEmpty() ? 0 : fontMetrics().horizontalAdvance(m_text) + 2;
    if (m_sizing == Sizing::GrowFromLeft) {
        if (!m_text.isEmpty())
            r.setWidth(textWidth);
        r.setHeight(std::max(r.height(), fontMetrics().height()));
    } else if (textWidth > r.width()) {
        // Our fonts are wider than the ones the layout was drawn for: let the
        // caption spill over evenly rather than be cut off.
        const int extra = textWidth - r.width();
        r.adjust(-extra / 2, 0, extra - extra / 2, 0);
    }
    if (r != geometry())
        setGeometry(r);
}

QString Caption::visibleText() const
{
    // A caption can be as long as a text box holds (32767 characters), far
    // wider than its window; shaping all of it on every paint would stall
    // the window. No glyph of our faces is narrower than half a pixel.
    const int limit = 2 * (parentWidget() ? parentWidget()->width() : width()) + 64;
    if (m_text.size() <= limit || m_sizing != Sizing::GrowFromLeft) // a growing caption starts at its left edge
        return m_text;
    return m_text.left(limit);
}

void Caption::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_background);
    if (m_text.isEmpty())
        return;
    p.setPen(m_foreground);
    p.setFont(font());
    p.drawText(rect(), static_cast<int>(m_align | Qt::AlignTop) | Qt::TextSingleLine, visibleText());
}

void Caption::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void Caption::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit clicked();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void Caption::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        relayout();
    QWidget::changeEvent(event);
}

} // namespace ferro
