#include "instruments/Option.h"

Option::Option(QObject* parent)
    : QObject(parent)
{
}

Option::Option(int number, const QString& name, const QString& type, QObject* parent)
    : QObject(parent)
    , m_number(number)
    , m_name(name)
    , m_type(type)
{
}

void Option::setNumber(int number)
{
    if (number == m_number)
        return;
    m_number = number;
    emit numberChanged();
}

void Option::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged();
}

void Option::setType(const QString& type)
{
    if (type == m_type)
        return;
    m_type = type;
    emit typeChanged();
}
