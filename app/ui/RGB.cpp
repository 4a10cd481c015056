#include "ui/RGB.h"

#include "common/SameValue.h"
#include <QtNumeric>

RGB::RGB(QObject* parent)
    : QObject(parent)
{
}

void RGB::setRed(double value)
{
    if (sameValue(m_red, value))
        return;
    m_red = value;
    emit redChanged();
}

void RGB::setGreen(double value)
{
    if (sameValue(m_green, value))
        return;
    m_green = value;
    emit greenChanged();
}

void RGB::setBlue(double value)
{
    if (sameValue(m_blue, value))
        return;
    m_blue = value;
    emit blueChanged();
}
