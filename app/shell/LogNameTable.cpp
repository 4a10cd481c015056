#include "shell/LogNameTable.h"

LogNameTable::LogNameTable()
{
    clear();
}

quint32 LogNameTable::intern(const QString& name)
{
    // A null and an empty name read the same; both are the table's first.
    if (name.isEmpty())
        return Empty;
    const auto found = m_numbers.constFind(name);
    if (found != m_numbers.cend())
        return found.value();
    const auto number = static_cast<quint32>(m_names.size());
    m_names.append(name);
    m_numbers.insert(m_names.constLast(), number);
    return number;
}

void LogNameTable::clear()
{
    m_names = {QString()};
    m_numbers.clear();
}
