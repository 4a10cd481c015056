#pragma once

#include <QDateTime>
#include <QAbstractListModel>
#include <QList>

// The list model behind the application log and the linearity log.
// The model is not locked: it is only touched on the thread that owns it. Messages from other
// threads reach the application log through queued invocations of appendEntry.
class LogModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // Severities in the log's own order, which differs from Qt's message-type numbering.
    enum Severity : quint8 { Debug = 0, Info = 1, Warning = 2, Critical = 3, Fatal = 4 };
    Q_ENUM(Severity)

    // One line of a log: when, where from, how severe, and what.
    struct LogEntry
    {
        QDateTime time;
        QString category;
        Severity severity = Info;
        QString function;
        QString msg;
    };

    enum Role {
        TimeRole = Qt::UserRole + 1,
        CategoryRole,
        SeverityRole,
        FunctionRole,
        MessageRole,
    };

    explicit LogModel(QObject* parent = nullptr);

    // The process-wide application log. Its first call installs messageHandler as Qt's message
    // handler, so call it before anything logs (start-up does so before the application object).
    static LogModel* appLog();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void clear();
    Q_INVOKABLE void appendEntry(QDateTime time, QString category, LogModel::Severity severity, QString function,
                                 QString msg);
    // Writes every message, one per line, as UTF-8. Returns an empty string on success and the
    // error text when the file cannot be opened or written completely.
    Q_INVOKABLE QString saveTo(QString fileName);

private:
    QList<LogEntry> m_entries;
};

Q_DECLARE_METATYPE(LogModel::Severity)
