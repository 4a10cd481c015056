#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// The result of every device operation, and the error state of the instruments.
// kind 0: success (empty message); 1: the exchange failed and may pass, so callers may retry;
// 2: retrying will not help (an invalid argument, no network address).
struct ErrorType
{
    Q_GADGET
    Q_PROPERTY(qint32 kind MEMBER kind)
    Q_PROPERTY(QString message MEMBER message)
public:
    qint32 kind = 0;
    QString message;

    bool ok() const { return kind == 0; }
    friend bool operator==(const ErrorType&, const ErrorType&) = default;
};

Q_DECLARE_METATYPE(ErrorType)
