#pragma once
// A picture box: a surface that keeps what is drawn on it. Drawing goes into
// a list of operations and, at once, into a backing image at the screen's
// device pixel ratio; painting the screen copies the damaged part of the
// image, printing replays the operations at the printer's resolution.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace ferro {

struct SurfaceOp {
    enum class Kind { Line, Dot, Text };
    Kind kind;
    QPointF a; // pixels
    QPointF b;
    QRgb colour;
    int width; // pixels
    QString text;
};

// A still copy of a surface's drawing, in the surface's pixels.
struct SurfacePicture {
    QSize size;
    QColor background;
    QFont font;
    std::vector<SurfaceOp> ops;

    bool isNull() const { return size.isEmpty(); }
    // Paints the picture with its top-left corner at the painter's origin.
    void render(QPainter &painter, bool fillBackground) const;
};

class DrawingSurface : public QWidget {
    Q_OBJECT
public:
    explicit DrawingSurface(QWidget *parent, const QColor &background = Qt::white);

    // Erases the drawing; the writing position returns to the top-left.
    void Cls();
    // Line from (x1, y1) to (x2, y2) in scale units, in ForeColor, DrawWidth pixels wide.
    void Line(double x1, double y1, double x2, double y2);
    // A dot DrawWidth pixels across, in ForeColor.
    void PSet(double x, double y);
    // Text at the writing position, which then moves to the start of the next line.
    void Print(const QString &text);
    // Still copy of the current drawing.
    SurfacePicture Image() const;

    // Scale units across and down; origin top-left, y downwards. Until set,
    // the units are twips.
    double ScaleWidth() const { return m_scaleWidth; }
    double ScaleHeight() const { return m_scaleHeight; }
    void setScaleWidth(double w) { m_scaleWidth = w; }
    void setScaleHeight(double h) { m_scaleHeight = h; }

    void setDrawWidth(int pixels) { m_drawWidth = pixels < 1 ? 1 : pixels; }
    void setForeColor(const QColor &c) { m_foreColor = c.rgb(); }

    void setCurrentX(double x) { m_currentX = x; }
    void setCurrentY(double y) { m_currentY = y; }

    // Distance from one printed line to the next, in pixels; 0 (the default)
    // is the font's height.
    void setLineHeight(double pixels) { m_lineHeight = pixels; }

    // Text drawn on an opaque background over its own box, so that text
    // printed again at the same place stays as crisp as the first time.
    void setOpaqueText(bool opaque) { m_opaqueText = opaque; }

    const std::vector<SurfaceOp> &operations() const { return m_ops; }

    // The printed lines that show, top to bottom: what a screen reader reads.
    QStringList visibleLines() const;
    // The last dot drawn, in scale units; none since the last Cls.
    std::optional<QPointF> lastDot() const;
    // For a screen reader, which sees a surface with an accessible name as a
    // picture: what it shows, in words. Asked only when a reader asks.
    void setDescriber(std::function<QString()> describe) { m_describe = std::move(describe); }
    QString description() const { return m_describe ? m_describe() : accessibleDescription(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPointF toPixels(double x, double y) const;
    void add(SurfaceOp op);
    void rebuildImage();
    QRect opBounds(const SurfaceOp &op) const;

    QColor m_background;
    std::vector<SurfaceOp> m_ops;
    QImage m_image;
    double m_scaleWidth;
    double m_scaleHeight;
    int m_drawWidth = 1;
    QRgb m_foreColor = qRgb(0, 0, 0);
    double m_currentX = 0;
    double m_currentY = 0;
    bool m_opaqueText = false;
    double m_lineHeight = 0;
    std::function<QString()> m_describe;
};

} // namespace ferro
