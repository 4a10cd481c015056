#include "instruments/SerialPortLister.h"

#include <QSerialPortInfo>

SerialPortLister::~SerialPortLister() = default;

QList<SerialPortLister::Port> SerialPortLister::ports() const
{
    QList<Port> ports;
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : available) {
        Port port{info.portName(), info.systemLocation(), std::nullopt, std::nullopt};
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}
