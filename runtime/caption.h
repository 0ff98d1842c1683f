#pragma once
// A label: a caption drawn on a background, the program's lightest control.
// Labels may size themselves to their text.

#include <QColor>
#include <QWidget>

namespace ferro {

class Caption : public QWidget {
    Q_OBJECT
public:
    enum class Sizing {
        Fixed,        // keeps its rectangle; a caption wider than it spreads evenly to both sides
        GrowFromLeft, // left edge fixed, width follows the text
    };

    explicit Caption(QWidget *parent, const QString &text = {}, Qt::Alignment align = Qt::AlignLeft,
                     Sizing sizing = Sizing::Fixed);

    QString text() const { return m_text; }
    void setText(const QString &text);

    // Twips geometry; for growing labels the width is the width when empty.
    void setTwipsGeometry(int left, int top, int width, int height);
    void setTwipsLeft(int left);
    void setTwipsTop(int top);

    void setColours(const QColor &background, const QColor &foreground);

    // As a click: for the keyboard (Space or Enter while it has focus; give
    // it Qt::TabFocus to put it in the Tab chain) and for a screen reader.
    void press() { emit clicked(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *) override;
    void mouseReleaseEvent(class QMouseEvent *event) override;
    void keyPressEvent(class QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();
    QString visibleText() const;

    QString m_text;
    Qt::Alignment m_align;
    Sizing m_sizing;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0; // twips
    QColor m_background = Qt::white;
    QColor m_foreground = Qt::black;
};

} // namespace ferro
