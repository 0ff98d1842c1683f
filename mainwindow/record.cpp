// Recording the run to a file (`ferrogrid --record FILE`): the window tells
// the session when a point or an event happens; rows and file are the
// session's.

#include "mainwindow/ising.h"

#include "preparation/designtemps.h"
#include "recording/recordsession.h"

#include <QLineEdit>

namespace ferro {

void Ising::startRecording(std::unique_ptr<RecordSession> session)
{
    m_record = std::move(session);
    // The session stops on its writer's thread; the box is shown on ours.
    const bool started = m_record->start(m_services.clock.now(), [this] {
        QMetaObject::invokeMethod(this, &Ising::showRecordingStopped, Qt::QueuedConnection);
    });
    if (!started)
        showRecordingStopped();
}

void Ising::recordEvent(const std::string &event)
{
    if (m_record)
        m_record->event(m_run, txtTemp->text().toStdString(), event, m_designTemps ? m_designTemps->edits() : 0);
}

void Ising::recordPoint()
{
    if (m_record)
        m_record->point(m_run, txtTemp->text().toStdString(), m_designTemps ? m_designTemps->edits() : 0);
}

void Ising::showRecordingStopped()
{
    m_services.boxes.MsgBox(this, QLatin1Char(' ') + QString::fromLocal8Bit(m_record->error()), vbOKOnly,
                            QStringLiteral(" Ferrogrid"));
}

} // namespace ferro
