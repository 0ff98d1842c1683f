#pragma once
// The text conversions on Qt strings.

#include "stdruntime/textconv.h"

#include <QByteArray>
#include <QString>

namespace ferro {

inline double Val(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Val(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

inline QString toQString(const std::string &text) { return QString::fromStdString(text); }

// Every menu caption after a bar's first stands ten blanks from the one before.
inline QString indentedMenuCaption(const char *caption)
{
    return QStringLiteral("          ") + QLatin1String(caption);
}

} // namespace ferro
