#include "runtime/cellarray.h"

#include "runtime/accessible.h"
#include "runtime/colour.h"
#include "runtime/twips.h"

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
    m_checkAll = fill != border;
    setAttribute(Qt::WA_NoSystemBackground);
    installAccessibleInterfaces();
}

void CellArray::setBlocks(int cells, const QString &name, std::function<QString(int)> describe)
{
    m_blockCells = cells;
    m_blockName = name;
    m_describeBlock = std::move(describe);
}

QRect CellArray::blockRect(int b) const
{
    QRect r;
    for (int k = b * m_blockCells; k < (b + 1) * m_blockCells; ++k)
        r |= m_cells[k].rect;
    return r;
}

void CellArray::touch(int k)
{
    update(m_cells[k].rect);
}

void CellArray::noteMismatch(int k)
{
    if (m_checkAll || m_cells[k].border == m_cells[k].fill)
        return;
    if (m_mismatched.size() >= m_cells.size()) {
        m_checkAll = true;
        m_mismatched.clear();
        return;
    }
    m_mismatched.push_back(k);
}

void CellArray::setBackColor(int k, std::uint32_t colour)
{
    Cell &c = m_cells[k];
    if (c.fill == colour)
        return;
    c.fill = colour;
    noteMismatch(k);
    if (c.visible)
        touch(k);
}

void CellArray::setBorderColor(int k, std::uint32_t colour)
{
    Cell &c = m_cells[k];
    if (c.border == colour)
        return;
    c.border = colour;
    noteMismatch(k);
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
    // Runs on every tick: only the cells noted since the last call can differ.
    auto follow = [this](Cell &c) {
        if (c.border != c.fill) {
            c.border = c.fill;
            if (c.visible && c.borderStyle != 0)
                update(c.rect);
        }
    };
    if (m_checkAll) {
        for (Cell &c : m_cells)
            follow(c);
    } else {
        for (int k : m_mismatched)
            follow(m_cells[k]);
    }
    m_mismatched.clear();
    m_checkAll = false;
}

void CellArray::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QRect dirty = event->rect();
    for (const Cell &c : m_cells) {
        if (!c.visible || !c.rect.intersects(dirty))
            continue;
        p.fillRect(c.rect, colourFromBgr(c.fill));
        if (c.borderStyle != 0 && c.border != c.fill) {
            // Inside solid: a one-pixel border within the square.
            p.setPen(QPen(colourFromBgr(c.border), 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(c.rect.adjusted(0, 0, -1, -1));
        }
    }
}

} // namespace ferro
