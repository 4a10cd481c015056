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
    static constexpr qint32 Success = 0;
    static constexpr qint32 Retryable = 1;
    static constexpr qint32 Fatal = 2;

    qint32 kind = Success;
    QString message;

    bool ok() const { return kind == Success; }
    friend bool operator==(const ErrorType&, const ErrorType&) = default;

    static ErrorType failure(qint32 kind, const QString& message = QString())
    {
        ErrorType result;
        result.kind = kind;
        result.message = message;
        return result;
    }

    // Registers the type under the name "ErrorType", so that it travels in queued signals and
    // slots and serves as a property type. Safe to call any number of times, from any thread.
    static void registerMetaType();
};

Q_DECLARE_METATYPE(ErrorType)
