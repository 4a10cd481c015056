#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <ostream>

// Lets GoogleTest print Qt strings as text in failure messages (found by argument lookup).
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"' << bytes.toStdString() << '"';
}

inline void PrintTo(const QStringList& texts, std::ostream* os)
{
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        *os << (i ? ", " : " ");
        PrintTo(texts.at(i), os);
    }
    *os << " }";
}
