#pragma once

#include "shell/LogNameTable.h"
#include "shell/LogTextArena.h"

#include <QAbstractListModel>
#include <QDateTime>

#include <deque>

// The list model behind the application log and the linearity log.
// The model is not locked: it is only touched on the thread that owns it. Messages from other
// threads reach the application log through queued invocations of appendEntry.
//
// A log keeps every line for as long as it lives, so a line is held compactly: its time in
// QDateTime's own eight bytes, its category and function as numbers in a table of names, its
// text in a shared arena. What the model gives back is exactly what appendEntry was given.
class LogModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // Severities in the log's own order, which differs from Qt's message-type numbering.
    enum Severity : quint8 { Debug = 0, Info = 1, Warning = 2, Critical = 3, Fatal = 4 };
    Q_ENUM(Severity)

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
    // One line of a log: when, where from, how severe, and what; its names and its text held
    // by number and place in the model's tables.
    struct LogEntry
    {
        // A local or UTC time takes no allocation of its own; any other zone is kept exactly.
        QDateTime time;
        quint32 category;
        Severity severity;
        quint32 function;
        LogTextArena::Span msg;
    };
    // A day's log holds hundreds of thousands of entries: each within 32 bytes beside its text.
    static_assert(sizeof(void*) != 8 || sizeof(LogEntry) <= 32);

    QString message(const LogEntry& entry) const { return m_texts.text(entry.msg); }

    // In blocks, so that growing never copies the lines nor holds room for as many again.
    std::deque<LogEntry> m_entries;
    LogNameTable m_names;
    LogTextArena m_texts;
};

Q_DECLARE_METATYPE(LogModel::Severity)
