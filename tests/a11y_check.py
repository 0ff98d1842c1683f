#!/usr/bin/env python3
"""Ferrogrid as a screen reader meets it, through AT-SPI.

Run by tools/a11y-check, which starts the bus, the registry, a display and
the program. Finds every read-out by the caption above it and checks that
what a reader is told (the name, the text, and the last change announced)
is the text on screen; reads the lattice's description after T = Zero and
after Reset, a snapshot's caption, and looks for unnamed fillers.

    tests/a11y_check.py [--dump] [--ready FILE]

--dump prints the main window's tree; --ready makes FILE once the check
listens for announcements (start the program after that, so that it learns
of the listener when it joins the bus).
"""
import re
import sys
import time

import pyatspi
from gi.repository import GLib

READOUT_CAPTIONS = [
    "Instantaneous Magnetization",
    "Monte Carlo Steps",
    "Magnetization Sum",
    "Average Magnetization",
    "Internal Energy",
]
LATTICE = re.compile(r"^20 by 20 spins: (\d+) up \(black\), (\d+) down \(white\)$")

failures = []
announced = {}  # (object, what) -> last value a reader was told
events = []  # every announcement, as (what, value)


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def pump(seconds):
    """Lets events arrive for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def on_event(event):
    # The event names the object, not its new text: like a screen reader, read
    # the name or description when the event comes.
    what = event.type.split(":")[-1].replace("accessible-", "")
    value = getattr(event.source, what)
    announced[(event.source, what)] = value
    events.append((time.monotonic(), event.source, what, value))


def settle(window, quiet=1.0, longest=8.0):
    """Lets the announcements come until none has come for a while. A call
    to the program each round also brings in announcements that arrived
    while the check waited for an answer."""
    end = time.monotonic() + longest
    seen = len(events)
    last = time.monotonic()
    while time.monotonic() < end and time.monotonic() - last < quiet:
        extents(window)
        pump(0.05)
        if len(events) != seen:
            seen, last = len(events), time.monotonic()


def children(acc):
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def walk(acc, depth=0):
    yield acc, depth
    for child in children(acc):
        if child is not None:
            yield from walk(child, depth + 1)


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def text_of(acc):
    try:
        t = acc.queryText()
    except NotImplementedError:
        return None
    return t.getText(0, t.characterCount)


def extents(acc):
    return acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def find(root, role, name=None, timeout=5.0):
    end = time.monotonic() + timeout
    while True:
        for acc, _ in walk(root):
            if acc.getRole() == role and (name is None or acc.name == name):
                return acc
        if time.monotonic() > end:
            raise LookupError("no %s named %r" % (pyatspi.Role(role).value_nick, name))
        pump(0.1)


def press(acc):
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press") if "Press" in names else 0)


def dump(root):
    for acc, depth in walk(root):
        if not showing(acc):
            continue
        line = "%s%s %r" % ("  " * depth, acc.getRoleName(), acc.name)
        if acc.description:
            line += " description=%r" % acc.description
        text = text_of(acc)
        if text and text != acc.name:
            line += " text=%r" % text
        print(line)


def readouts(window):
    """Each read-out as the label nearest below its caption, left edges overlapping."""
    labels = [a for a, _ in walk(window) if a.getRole() == pyatspi.ROLE_LABEL and showing(a)]
    found = {}
    for caption in READOUT_CAPTIONS:
        above = [a for a in labels if a.name == caption]
        if len(above) != 1:
            fail("caption %r found %d times" % (caption, len(above)))
            continue
        c = extents(above[0])
        below = []
        for a in labels:
            e = extents(a)
            if e.y >= c.y + c.height and e.x < c.x + c.width and e.x + e.width > c.x:
                below.append((e.y, a))
        below.sort(key=lambda p: p[0])
        if not below:
            fail("no read-out under %r" % caption)
            continue
        found[caption] = below[0][1]
    return found


shown_before = {}  # object -> the text it had at the last look


def told(acc, what, now):
    """What a reader was last told: a change since the last look must have
    been announced, and the last announcement must be the value now."""
    before = shown_before.get((acc, what), now)
    shown_before[(acc, what)] = now
    return announced.get((acc, what), now if before == now else "(nothing announced)")


def read_out(window, moment):
    """What a reader gets from each read-out: its name, its text, and the
    last change announced; all must agree."""
    values = {}
    print("read-outs %s, as a screen reader receives them:" % moment)
    for caption, label in readouts(window).items():
        name, text = label.name, text_of(label)
        last = told(label, "name", text)
        print("  %s: %r" % (caption, name))
        if not (name == text == last):
            fail("%s %s: name %r, text %r, last announced %r" % (caption, moment, name, text, last))
        values[caption] = name
    return values


def number(text):
    return float(text) if text.strip() else 0.0


def lattice(window, moment):
    shape = find(window, pyatspi.ROLE_IMAGE, "Lattice")
    description = shape.description
    last = told(shape, "description", description)
    print("lattice %s: %r" % (moment, description))
    if last != description:
        fail("lattice %s: described %r, last announced %r" % (moment, description, last))
    return description


def spins(values, described):
    """The spins the lattice is described with; the magnetization read-out
    must tell the same story."""
    m = LATTICE.match(described)
    if not m:
        fail("lattice described %r" % described)
        return 0, 0
    up, down = int(m.group(1)), int(m.group(2))
    if up + down != 400:
        fail("lattice of %d up and %d down" % (up, down))
    mag = number(values.get("Instantaneous Magnetization", ""))
    if abs(mag - (up - down) / 400) > 1e-9:
        fail("magnetization reads %r but the lattice has %d up, %d down" % (mag, up, down))
    return up, down


def main():
    dump_tree = "--dump" in sys.argv
    pyatspi.Registry.registerEventListener(
        on_event, "object:property-change:accessible-name", "object:property-change:accessible-description")
    if "--ready" in sys.argv:
        open(sys.argv[sys.argv.index("--ready") + 1], "w").close()

    desktop = pyatspi.Registry.getDesktop(0)
    window = None
    end = time.monotonic() + 20
    while window is None and time.monotonic() < end:
        for app in children(desktop):
            if app is None:
                continue
            for w in children(app):
                if w is not None and w.getRole() == pyatspi.ROLE_FRAME and w.name == "Ferrogrid":
                    window = w
        if window is None:
            pump(0.2)
    if window is None:
        print("FAIL: no window named Ferrogrid on the accessibility bus")
        return 1

    no_unnamed_fillers(window)

    for name in ["Magnetization", "Avg Magnetization"]:
        chart = find(window, pyatspi.ROLE_IMAGE, name)
        print("chart %r: %r" % (name, chart.description))
        if not chart.description.startswith("Time 0 to 4000 Monte Carlo steps per site"):
            fail("chart %r described %r" % (name, chart.description))
    # The date box: a label whose lines are the date and the time.
    boxes = [a for a, _ in walk(window) if a.getRole() == pyatspi.ROLE_LABEL and "\n" in (text_of(a) or "")]
    print("date box: %r" % [text_of(a) for a in boxes])
    if len(boxes) != 1 or len(text_of(boxes[0]).split("\n")) != 2:
        fail("no date box of two lines")

    read_out(window, "at start")
    lattice(window, "at start")

    # T = Zero: every spin alike; the magnetization read-out and the lattice
    # must tell the same story.
    press(find(window, pyatspi.ROLE_PUSH_BUTTON, "T = Zero"))
    settle(window)
    values = read_out(window, "after T = Zero")
    up, down = spins(values, lattice(window, "after T = Zero"))
    if up != 400 and down != 400:
        fail("T = Zero leaves %d up and %d down" % (up, down))

    # A run above the critical temperature: the read-outs change on every
    # tick; what a reader was told last is what stays on screen once the run
    # stops (typing a temperature stops it).
    temp = find(window, pyatspi.ROLE_TEXT, "Final temperature")
    temp.queryEditableText().setTextContents("2.6")
    started = time.monotonic()
    press(find(window, pyatspi.ROLE_PUSH_BUTTON, "Go to T ="))
    pump(1.5)
    temp.queryEditableText().setTextContents("2.5")
    settle(window)
    # Changing on every tick, a read-out is still announced only a few
    # times a second: four, and one more at each end.
    seconds = time.monotonic() - started
    per_object = {}
    for when, source, what, _ in events:
        if when >= started:
            per_object[source] = per_object.get(source, 0) + 1
    for source, count in per_object.items():
        if count > 4 * seconds + 2:
            fail("%r announced %d times in %.1f s" % (source.name, count, seconds))
    print("in the run of %.1f s, at most %d announcements of one object"
          % (seconds, max(per_object.values(), default=0)))
    values = read_out(window, "after a run")
    spins(values, lattice(window, "after a run"))
    for name in ["Magnetization", "Avg Magnetization"]:
        chart = find(window, pyatspi.ROLE_IMAGE, name)
        if "; last point " not in chart.description:
            fail("chart %r after a run described %r" % (name, chart.description))
    steps = number(values.get("Monte Carlo Steps", ""))
    if steps <= 0:
        fail("no steps counted in the run")
    else:
        total, average = number(values.get("Magnetization Sum", "")), number(values.get("Average Magnetization", ""))
        if abs(average - round(total / steps, 4)) > 1.5e-4:
            fail("average %r is not the sum %r over %r steps" % (average, total, steps))

    if dump_tree:
        print("--- the main window as a screen reader finds it, the run paused")
        dump(window)

    # A snapshot: its block reads as a picture described by its caption.
    press(menu_item(window, "Snapshot"))
    pump(0.5)
    snapshots = frame("Snapshots")
    block = find(snapshots, pyatspi.ROLE_IMAGE, "Snapshot 1")
    captions = [a.name for a, _ in walk(snapshots) if a.getRole() == pyatspi.ROLE_LABEL and showing(a)]
    print("snapshot 1: %r" % block.description)
    no_unnamed_fillers(snapshots)
    if not block.description or block.description not in captions:
        fail("Snapshot 1 described %r; captions on screen %r" % (block.description, captions))

    # Reset: the lattice is blank.
    press(menu_item(window, "Reset"))
    settle(window)
    if lattice(window, "after Reset") != "blank":
        fail("lattice not blank after Reset")
    read_out(window, "after Reset")

    print("%d announcements of names and descriptions received" % len(events))
    print("a11y-check: %s" % ("%d failure(s)" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


def no_unnamed_fillers(window):
    """Nothing on screen may be an unnamed leaf filler: every painted text
    and picture has a role and a name."""
    for acc, _ in walk(window):
        if acc.getRole() == pyatspi.ROLE_FILLER and showing(acc) and not acc.name and acc.childCount == 0:
            e = extents(acc)
            fail("%s: unnamed filler at %d,%d (%dx%d)" % (window.name, e.x, e.y, e.width, e.height))


def menu_item(window, label):
    for acc, _ in walk(window):
        if acc.getRole() == pyatspi.ROLE_MENU_ITEM and acc.name.strip() == label:
            return acc
    raise LookupError("no menu item %r" % label)


def frame(title, timeout=5.0):
    end = time.monotonic() + timeout
    while True:
        for app in children(pyatspi.Registry.getDesktop(0)):
            for w in children(app) if app is not None else []:
                if w is not None and w.getRole() == pyatspi.ROLE_FRAME and w.name == title and showing(w):
                    return w
        if time.monotonic() > end:
            raise LookupError("no window %r" % title)
        pump(0.1)


if __name__ == "__main__":
    sys.exit(main())
