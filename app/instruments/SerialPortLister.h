#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The serial ports the system offers, in the system's order. An instrument finds its port through
// this class, so a test can hand it a list of its own.
class SerialPortLister
{
public:
    struct Port
    {
        // The short name, such as "COM7", "cu.usbmodem1" or "ttyACM0".
        QString name;
        // What opens the port, such as "/dev/ttyACM0".
        QString systemLocation;
        // USB identifiers, when the port has them.
        std::optional<quint16> vendorId;
        std::optional<quint16> productId;
    };

    SerialPortLister() = default;
    virtual ~SerialPortLister();
    SerialPortLister(const SerialPortLister&) = delete;
    SerialPortLister& operator=(const SerialPortLister&) = delete;

    virtual QList<Port> ports() const;
};
