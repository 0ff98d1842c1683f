// Recording the run to a file (`ferrogrid --record FILE`): the window says
// when a point or an event happens; the rows are the recorder's.

#include "mainwindow/ising.h"

#include "preparation/designtemps.h"
#include "recording/recorder.h"

#include <QLineEdit>

namespace ferro {

void Ising::startRecording(Recorder &recorder)
{
    m_recorder = &recorder;
    if (!recorder.open(m_services.clock.now()))
        stopRecording();
}

void Ising::recordEvent(const std::string &event)
{
    if (m_recorder)
        recordRow(eventRow(m_run, txtTemp->text().toStdString(), event));
}

void Ising::recordPoint()
{
    recordRow(pointRow(m_run, txtTemp->text().toStdString()));
}

void Ising::recordRow(const std::string &row)
{
    // Factor edits come one keystroke (or, with Clear Text, 400 boxes) at a
    // time: they make one event row before the next row of the run.
    if (m_designTemps && m_designTemps->edits() != m_recordedFactorEdits) {
        m_recordedFactorEdits = m_designTemps->edits();
        if (!writeRecord(eventRow(m_run, txtTemp->text().toStdString(), "temperature factors changed")))
            return;
    }
    writeRecord(row);
}

bool Ising::writeRecord(const std::string &row)
{
    if (m_recorder->write(row))
        return true;
    stopRecording();
    return false;
}

void Ising::stopRecording()
{
    const QString message = QLatin1Char(' ') + QString::fromLocal8Bit(m_recorder->error());
    m_recorder = nullptr; // before the box, whose event loop may run ticks
    m_services.boxes.MsgBox(this, message, vbOKOnly, QStringLiteral(" Ferrogrid"));
}

} // namespace ferro
