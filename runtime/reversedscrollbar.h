#pragma once
// A horizontal scroll bar whose value runs from its maximum at the left end
// to its minimum at the right end. The arrows, the trough and the keys move
// the thumb toward where they point, as on any scroll bar; only the value
// read off the thumb is reversed.

#include <QKeyEvent>
#include <QScrollBar>

namespace ferro {

class ReversedScrollBar : public QScrollBar {
    Q_OBJECT
public:
    ReversedScrollBar(int minimum, int maximum, QWidget *parent)
        : QScrollBar(Qt::Horizontal, parent)
    {
        setRange(minimum, maximum);
    }

    // The value the thumb's place stands for.
    int Value() const { return maximum() + minimum() - value(); }
    void setValueAt(int v) { setValue(maximum() + minimum() - v); }

protected:
    // A horizontal QScrollBar moves the thumb against the Left and Right
    // keys; here they move it the way the arrow buttons do.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
            const bool towardRight = (event->key() == Qt::Key_Right) != isRightToLeft();
            triggerAction(towardRight ? SliderSingleStepAdd : SliderSingleStepSub);
            event->accept();
            return;
        }
        QScrollBar::keyPressEvent(event);
    }
};

} // namespace ferro
