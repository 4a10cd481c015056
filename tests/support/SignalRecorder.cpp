#include "support/SignalRecorder.h"

#include <QMetaMethod>

SignalRecorder::SignalRecorder(QObject* sender)
{
    const QMetaObject* meta = sender->metaObject();
    const QMetaMethod recordSlot = metaObject()->method(metaObject()->indexOfSlot("record()"));
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal)
            connect(sender, method, this, recordSlot);
    }
}

void SignalRecorder::record()
{
    const QMetaMethod signal = sender()->metaObject()->method(senderSignalIndex());
    m_names.append(QString::fromLatin1(signal.name()));
}
