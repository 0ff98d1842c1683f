#include "runtime/drawingsurface.h"

#include "runtime/accessible.h"
#include "runtime/twips.h"

#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace ferro {

namespace {

void drawOperation(QPainter &p, const SurfaceOp &op, const QFont &font, const QColor &background)
{
    switch (op.kind) {
    case SurfaceOp::Kind::Line: {
        QPen pen(QColor::fromRgb(op.colour), op.width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        p.setPen(pen);
        p.drawLine(op.a, op.b);
        break;
    }
    case SurfaceOp::Kind::Dot: {
        const double half = op.width / 2.0;
        p.fillRect(QRectF(op.a.x() - half, op.a.y() - half, op.width, op.width), QColor::fromRgb(op.colour));
        break;
    }
    case SurfaceOp::Kind::Text: {
        p.setFont(font);
        const QFontMetricsF fm(font, p.device());
        // Text runs off the surface's right edge long before 4096 characters.
        const QString text = op.text.size() > 4096 ? op.text.left(4096) : op.text;
        if (op.width > 0) // opaque text: its own box is cleared first
            p.fillRect(QRectF(op.a, QSizeF(fm.horizontalAdvance(text), fm.height())), background);
        p.setPen(QColor::fromRgb(op.colour));
        p.drawText(QPointF(op.a.x(), op.a.y() + fm.ascent()), text);
        break;
    }
    }
}

} // namespace

void SurfacePicture::render(QPainter &painter, bool fillBackground) const
{
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size), Qt::IntersectClip);
    if (fillBackground)
        painter.fillRect(QRect(QPoint(0, 0), size), background);
    for (const SurfaceOp &op : ops)
        drawOperation(painter, op, font, background);
    painter.restore();
}

DrawingSurface::DrawingSurface(QWidget *parent, const QColor &background)
    : QWidget(parent)
    , m_background(background)
    , m_scaleWidth(0)
    , m_scaleHeight(0)
{
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    installAccessibleInterfaces();
}

QPointF DrawingSurface::toPixels(double x, double y) const
{
    const double sx = m_scaleWidth > 0 ? width() / m_scaleWidth : 1.0 / TwipsPerPixel;
    const double sy = m_scaleHeight > 0 ? height() / m_scaleHeight : 1.0 / TwipsPerPixel;
    return QPointF(x * sx, y * sy);
}

void DrawingSurface::Cls()
{
    m_ops.clear();
    m_currentX = 0;
    m_currentY = 0;
    rebuildImage();
    update();
    announceAccessibleChange(this);
}

void DrawingSurface::Line(double x1, double y1, double x2, double y2)
{
    add({SurfaceOp::Kind::Line, toPixels(x1, y1), toPixels(x2, y2), m_foreColor, m_drawWidth, {}});
}

void DrawingSurface::PSet(double x, double y)
{
    add({SurfaceOp::Kind::Dot, toPixels(x, y), {}, m_foreColor, m_drawWidth, {}});
}

void DrawingSurface::Print(const QString &text)
{
    add({SurfaceOp::Kind::Text, toPixels(m_currentX, m_currentY), {}, m_foreColor, m_opaqueText ? 1 : 0, text});
    const double sy = m_scaleHeight > 0 ? m_scaleHeight / height() : TwipsPerPixel;
    m_currentX = 0;
    m_currentY += (m_lineHeight > 0 ? m_lineHeight : fontMetrics().height()) * sy;
    announceAccessibleChange(this);
}

QStringList DrawingSurface::visibleLines() const
{
    std::vector<const SurfaceOp *> texts;
    for (const SurfaceOp &op : m_ops) {
        if (op.kind == SurfaceOp::Kind::Text && op.a.y() < height() && op.a.x() < width()
            && !op.text.trimmed().isEmpty())
            texts.push_back(&op);
    }
    std::stable_sort(texts.begin(), texts.end(), [](const SurfaceOp *a, const SurfaceOp *b) {
        return a->a.y() < b->a.y() || (a->a.y() == b->a.y() && a->a.x() < b->a.x());
    });
    QStringList lines;
    for (const SurfaceOp *op : texts)
        lines << op->text.trimmed();
    return lines;
}

std::optional<QPointF> DrawingSurface::lastDot() const
{
    for (auto op = m_ops.rbegin(); op != m_ops.rend(); ++op) {
        if (op->kind == SurfaceOp::Kind::Dot) {
            const QPointF origin = toPixels(0, 0), unit = toPixels(1, 1) - origin;
            return QPointF(op->a.x() / unit.x(), op->a.y() / unit.y());
        }
    }
    return std::nullopt;
}

SurfacePicture DrawingSurface::Image() const
{
    return {size(), m_background, font(), m_ops};
}

QRect DrawingSurface::opBounds(const SurfaceOp &op) const
{
    const int margin = op.width + 1;
    switch (op.kind) {
    case SurfaceOp::Kind::Line:
        return QRectF(op.a, op.b).normalized().toAlignedRect().adjusted(-margin, -margin, margin, margin);
    case SurfaceOp::Kind::Dot:
        return QRectF(op.a, op.a).toAlignedRect().adjusted(-margin, -margin, margin, margin);
    case SurfaceOp::Kind::Text:
        return QRect(op.a.toPoint(), QSize(width() - op.a.toPoint().x() + 2, fontMetrics().height() + 2));
    }
    return rect();
}

void DrawingSurface::add(SurfaceOp op)
{
    const QRect bounds = opBounds(op);
    if (op.kind == SurfaceOp::Kind::Text && op.width > 0) {
        // Opaque text printed again at the same place covers the earlier
        // copy exactly: keep one, so that redrawing it forever costs nothing.
        std::erase_if(m_ops, [&op](const SurfaceOp &o) {
            return o.kind == SurfaceOp::Kind::Text && o.a == op.a && o.text == op.text;
        });
    }
    m_ops.push_back(std::move(op));
    if (m_image.isNull() || m_image.devicePixelRatio() != devicePixelRatioF()) {
        rebuildImage();
    } else {
        QPainter p(&m_image);
        drawOperation(p, m_ops.back(), font(), m_background);
    }
    update(bounds);
}

void DrawingSurface::rebuildImage()
{
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = size() * dpr;
    if (pixels.isEmpty()) {
        m_image = QImage();
        return;
    }
    if (m_image.size() != pixels || m_image.devicePixelRatio() != dpr) {
        m_image = QImage(pixels, QImage::Format_RGB32);
        m_image.setDevicePixelRatio(dpr);
    }
    m_image.fill(m_background);
    QPainter p(&m_image);
    for (const SurfaceOp &op : m_ops)
        drawOperation(p, op, font(), m_background);
}

void DrawingSurface::resizeEvent(QResizeEvent *)
{
    rebuildImage();
}

void DrawingSurface::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    // Recorded for a printed page: the drawing itself, not screen pixels.
    if (p.paintEngine() && p.paintEngine()->type() == QPaintEngine::Picture) {
        Image().render(p, true);
        return;
    }
    if (m_image.isNull() || m_image.devicePixelRatio() != devicePixelRatioF())
        rebuildImage();
    const QRect r = event->rect();
    const qreal dpr = m_image.devicePixelRatio();
    p.drawImage(r, m_image, QRectF(r.topLeft() * dpr, r.size() * dpr));
}

} // namespace ferro
