#include "runtime/accessible.h"

#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "runtime/drawingsurface.h"
#include "runtime/stillimage.h"

#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <vector>

namespace ferro {

namespace {

// An interface that can tell a reader what changed since it last told it.
class Announcing {
public:
    virtual ~Announcing() = default;
    virtual void announce() = 0;
};

void send(QObject *object, QAccessible::Event type)
{
    QAccessibleEvent event(object, type);
    QAccessible::updateAccessibility(&event);
}

// A label's text as speech gets it: blanks that only push the text right dropped.
QString spoken(const QString &text)
{
    qsizetype first = 0;
    while (first < text.size() && text[first].isSpace())
        ++first;
    return text.mid(first);
}

// Read-only text, for labels and the lines of a surface.
class ReadOnlyText : public QAccessibleTextInterface {
public:
    virtual QString currentText() const = 0;

    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QString text(int start, int end) const override
    {
        const QString all = currentText();
        if (start < 0 || end < start || start > all.size())
            return {};
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(currentText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return {};
    }
};

// A caption: a label whose name and text are the text it shows.
class CaptionInterface : public QAccessibleWidget, public ReadOnlyText, public Announcing {
public:
    explicit CaptionInterface(Caption *caption)
        : QAccessibleWidget(caption, QAccessible::StaticText)
        , m_announced(shown())
    {
    }

    Caption *caption() const { return static_cast<Caption *>(widget()); }
    QString shown() const { return spoken(caption()->text()); }
    QString currentText() const override { return shown(); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && caption()->accessibleName().isEmpty())
            return shown();
        return QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // A caption that takes focus does something when pressed.
    bool pressable() const { return caption()->focusPolicy() & Qt::TabFocus; }
    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (pressable())
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && pressable())
            caption()->press();
        else
            QAccessibleWidget::doAction(action);
    }

    // Only a caption whose text was set since the last announcement comes
    // here: it is announced even when the text went back to what was last
    // announced, since a reader may have read the text in between.
    void announce() override
    {
        const QString now = shown();
        send(object(), QAccessible::NameChanged);
        QAccessibleTextUpdateEvent update(object(), 0, m_announced, now);
        QAccessible::updateAccessibility(&update);
        m_announced = now;
    }

private:
    QString m_announced;
};

// One block of a cell array read as blocks: a picture with no widget of its own.
class BlockInterface : public QAccessibleInterface {
public:
    BlockInterface(CellArray *array, int block)
        : m_array(array)
        , m_block(block)
    {
    }

    bool isValid() const override { return m_array; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return parent() ? parent()->window() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_array); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!m_array)
            return {};
        switch (t) {
        case QAccessible::Name:
            return m_array->blockName(m_block);
        case QAccessible::Description:
            return m_array->blockDescription(m_block);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override { }
    QRect rect() const override
    {
        if (!m_array)
            return {};
        const QRect r = m_array->blockRect(m_block);
        return QRect(m_array->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Graphic; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !m_array || !m_array->isVisible() || !m_array->blockShown(m_block);
        return s;
    }

    // Tells a reader about a new caption or a block shown or hidden.
    void announce()
    {
        const QString description = text(QAccessible::Description);
        if (description != m_description) {
            m_description = description;
            QAccessibleEvent event(this, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&event);
        }
        const bool shown = !state().invisible;
        if (shown != m_shown) {
            m_shown = shown;
            QAccessible::State changed;
            changed.invisible = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    }

private:
    QPointer<CellArray> m_array;
    int m_block;
    QString m_description = text(QAccessible::Description);
    bool m_shown = !state().invisible;
};

// A cell array: one picture described in words, or a panel of block pictures.
class CellArrayInterface : public QAccessibleWidget, public Announcing {
public:
    explicit CellArrayInterface(CellArray *array)
        : QAccessibleWidget(array)
    {
    }
    ~CellArrayInterface() override
    {
        for (QAccessible::Id id : m_blocks) {
            if (id)
                QAccessible::deleteAccessibleInterface(id);
        }
    }

    CellArray *array() const { return static_cast<CellArray *>(widget()); }

    QAccessible::Role role() const override
    {
        return array()->blockCount() > 0 ? QAccessible::Pane : QAccessible::Graphic;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Description)
            return array()->description();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return array()->blockCount(); }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (m_blocks.size() < std::size_t(childCount()))
            m_blocks.resize(std::size_t(childCount()), 0);
        QAccessible::Id &id = m_blocks[std::size_t(index)];
        if (!id)
            id = QAccessible::registerAccessibleInterface(new BlockInterface(array(), index));
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            if (m_blocks[b] && QAccessible::accessibleInterface(m_blocks[b]) == child)
                return int(b);
        }
        return -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (int b = 0; b < childCount(); ++b) {
            QAccessibleInterface *block = child(b);
            if (!block->state().invisible && block->rect().contains(x, y))
                return block;
        }
        return nullptr;
    }

    // The picture is announced whenever its owner says it may have changed.
    void announce() override
    {
        send(object(), QAccessible::DescriptionChanged);
        for (QAccessible::Id id : m_blocks) {
            if (id)
                static_cast<BlockInterface *>(QAccessible::accessibleInterface(id))->announce();
        }
    }

private:
    mutable std::vector<QAccessible::Id> m_blocks;
};

// A drawing surface: a named picture with a description, or, unnamed, a
// label that reads the lines printed on it.
class SurfaceInterface : public QAccessibleWidget, public ReadOnlyText, public Announcing {
public:
    explicit SurfaceInterface(DrawingSurface *surface)
        : QAccessibleWidget(surface)
        , m_text(currentText())
    {
    }

    DrawingSurface *surface() const { return static_cast<DrawingSurface *>(widget()); }
    bool named() const { return !surface()->accessibleName().isEmpty(); }
    QString currentText() const override { return surface()->visibleLines().join(QLatin1Char('\n')); }

    QAccessible::Role role() const override { return named() ? QAccessible::Graphic : QAccessible::StaticText; }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !named())
            return surface()->visibleLines().join(QLatin1Char(' '));
        if (t == QAccessible::Description) {
            const QString description = surface()->description();
            if (description.isEmpty() && named())
                return surface()->visibleLines().join(QStringLiteral(", "));
            return description;
        }
        return QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // A named surface is a picture whose description may have changed; an
    // unnamed one a label whose lines did.
    void announce() override
    {
        if (named()) {
            send(object(), QAccessible::DescriptionChanged);
            return;
        }
        const QString now = currentText();
        send(object(), QAccessible::NameChanged);
        QAccessibleTextUpdateEvent update(object(), 0, m_text, now);
        QAccessible::updateAccessibility(&update);
        m_text = now;
    }

private:
    QString m_text;
};

// A still image: a picture while it has one and no control above it covers it.
class StillImageInterface : public QAccessibleWidget {
public:
    explicit StillImageInterface(StillImage *image)
        : QAccessibleWidget(image, QAccessible::Graphic)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        auto *image = static_cast<StillImage *>(widget());
        s.invisible = s.invisible || !image->hasPicture() || covered(image);
        return s;
    }

private:
    static bool covered(const QWidget *w)
    {
        const QObjectList &siblings = w->parentWidget()->children();
        for (qsizetype k = siblings.indexOf(const_cast<QWidget *>(w)) + 1; k < siblings.size(); ++k) {
            const auto *above = qobject_cast<const QWidget *>(siblings[k]);
            if (above && above->isVisible() && above->geometry().contains(w->geometry()))
                return true;
        }
        return false;
    }
};

QAccessibleInterface *interfaceFor(const QString &, QObject *object)
{
    if (auto *caption = qobject_cast<Caption *>(object))
        return new CaptionInterface(caption);
    if (auto *array = qobject_cast<CellArray *>(object))
        return new CellArrayInterface(array);
    if (auto *surface = qobject_cast<DrawingSurface *>(object))
        return new SurfaceInterface(surface);
    if (auto *image = qobject_cast<StillImage *>(object))
        return new StillImageInterface(image);
    return nullptr;
}

// Collects the controls that changed and tells readers about them together,
// at most once per AnnouncementIntervalMs.
class Announcer : public QObject {
public:
    explicit Announcer(QObject *parent)
        : QObject(parent)
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Announcer::flush);
    }

    void add(QWidget *w)
    {
        if (!m_pending.contains(w))
            m_pending.append(w);
        if (m_timer.isActive())
            return;
        const qint64 since = m_last.isValid() ? m_last.elapsed() : AnnouncementIntervalMs;
        m_timer.start(int(std::max<qint64>(0, AnnouncementIntervalMs - since)));
    }

private:
    void flush()
    {
        m_last.start();
        const QList<QPointer<QWidget>> pending = std::exchange(m_pending, {});
        for (const QPointer<QWidget> &w : pending) {
            if (!w)
                continue;
            if (auto *announcing = dynamic_cast<Announcing *>(QAccessible::queryAccessibleInterface(w)))
                announcing->announce();
        }
    }

    QTimer m_timer;
    QElapsedTimer m_last;
    QList<QPointer<QWidget>> m_pending;
};

} // namespace

void installAccessibleInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(interfaceFor);
        return true;
    }();
    (void)installed;
}

void announceAccessibleChange(QWidget *w)
{
    if (!QAccessible::isActive())
        return;
    static QPointer<Announcer> announcer;
    if (!announcer)
        announcer = new Announcer(QCoreApplication::instance());
    announcer->add(w);
}

} // namespace ferro
