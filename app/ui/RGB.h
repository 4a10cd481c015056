#pragma once

#include <QObject>

// A red, green and blue value for binding from QML.
class RGB : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double red READ red WRITE setRed NOTIFY redChanged)
    Q_PROPERTY(double green READ green WRITE setGreen NOTIFY greenChanged)
    Q_PROPERTY(double blue READ blue WRITE setBlue NOTIFY blueChanged)
public:
    explicit RGB(QObject* parent = nullptr);

    double red() const { return m_red; }
    double green() const { return m_green; }
    double blue() const { return m_blue; }

    void setRed(double value);
    void setGreen(double value);
    void setBlue(double value);

signals:
    void redChanged();
    void greenChanged();
    void blueChanged();

private:
    double m_red = 0.0;
    double m_green = 0.0;
    double m_blue = 0.0;
};
