#include "cellarray.h"

#include "colour.h"
#include "twips.h"

#include <QPaintEvent>
#include <QPainter>

namespace ferro {

CellArray::CellArray(QWidget *parent, std::vector<QRectF> squares, std::uint32_t fill, std::uint32_t border,
                     bool visible)
    : QWidget(parent)
{
    QRect bounds;
    std::vector<QRect> pixels;
    pixels.reserve(squares.size());
    for (const QRectF &sq : squares) {
        const QRect r = twipsRect(sq.left(), sq.top(), sq.width(), sq.height());
        pixels.push_back(r);
        bounds |= r;
    }
    setGeometry(bounds);
    m_cells.reserve(pixels.size());
    for (const QRect &r : pixels)
        m_cells.push_back({r.translated(-bounds.topLeft()), fill, border, InsideSolid, visible});
    setAttribute(Qt::WA_NoSystemBackground);
}

void CellArray::touch(int k)
{
    update(m_cells[k].rect);
}

void CellArray::setBackColor(int k, std::uint32_t colour)
{
    Cell &c = m_cells[k];
    if (c.fill == colour)
        return;
    c.fill = colour;
    if (c.visible)
        touch(k);
}

void CellArray::setBorderColor(int k, std::uint32_t colour)
{
    Cell &c = m_cells[k];
    if (c.border == colour)
        return;
    c.border = colour;
    if (c.visible && c.borderStyle != 0)
        touch(k);
}

void CellArray::setBorderStyle(int k, int style)
{
    Cell &c = m_cells[k];
    if (c.borderStyle == style)
        return;
    c.borderStyle = style;
    if (c.visible)
        touch(k);
}

void CellArray::setCellVisible(int k, bool visible)
{
    Cell &c = m_cells[k];
    if (c.visible == visible)
        return;
    c.visible = visible;
    touch(k);
}

void CellArray::bordersFollowFill()
{
    for (Cell &c : m_cells) {
        if (c.border != c.fill) {
            c.border = c.fill;
            if (c.visible && c.borderStyle != 0)
                update(c.rect);
        }
    }
}

void CellArray::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QRect dirty = event->rect();
    for (const Cell &c : m_cells) {
        if (!c.visible || !c.rect.intersects(dirty))
            continue;
        p.fillRect(c.rect, vbColour(c.fill));
        if (c.borderStyle != 0 && c.border != c.fill) {
            // Inside solid: a one-pixel border within the square.
            p.setPen(QPen(vbColour(c.border), 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(c.rect.adjusted(0, 0, -1, -1));
        }
    }
}

} // namespace ferro
