#pragma once

#include <QHash>
#include <QList>
#include <QString>

// The names a log repeats on line after line (logging categories, function names), each kept
// once: a line holds its name's number, and every line with that name shares the one string.
class LogNameTable
{
public:
    // The number of the empty name, which every table has.
    static constexpr quint32 Empty = 0;

    LogNameTable();

    // The number of a name, the same for every equal name; a new name is added.
    quint32 intern(const QString& name);
    // The name of a number that intern gave.
    const QString& name(quint32 number) const { return m_names.at(number); }
    // How many names the table holds, the empty one included.
    qsizetype count() const { return m_names.size(); }
    // Back to the empty name alone.
    void clear();

private:
    QList<QString> m_names;
    // Keys share their text with the list's strings.
    QHash<QString, quint32> m_numbers;
};
