#pragma once
// A window timer: fires about every Interval milliseconds while enabled.
// Enabling a running timer or setting its interval to the value it has does
// not restart its count.

#include <QObject>
#include <QTimer>

namespace ferro {

class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject *parent, int intervalMs = 1);

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);
    int Interval() const { return m_interval; }
    void setInterval(int ms);

signals:
    void fired();

private:
    QTimer m_timer;
    bool m_enabled = false;
    int m_interval;
};

} // namespace ferro
