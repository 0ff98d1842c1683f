#pragma once
// What a screen reader is told about the painted controls. Captions read as
// labels with their text; cell arrays, drawing surfaces and still images as
// pictures with a name and a description in words, or, for a surface that
// only carries text, as a label with its lines.
//
// Changes reach a screen reader through announceAccessibleChange: nothing at
// all happens while no accessibility client listens, and while a run changes
// the read-outs on every frame a control is announced at most four times a
// second, the last time after its changes stop.

class QWidget;

namespace ferro {

// Makes the program's controls answer through the interfaces above. Every
// control of the runtime calls it when made; calling it again does nothing.
void installAccessibleInterfaces();

// What w says (its name, text or description) may have changed.
void announceAccessibleChange(QWidget *w);

// Least time between two announcements, in milliseconds.
constexpr int AnnouncementIntervalMs = 250;

} // namespace ferro
