#include "shell/LogModel.h"

#include <QFile>
#include <QMetaObject>

#include <memory>

namespace {

// Messages containing this text are noise from Qt's shortcut handling; they stay out of the log.
constexpr auto kSkippedShortcutMessage = "Shortcut: Only binding to one of multiple key bindings";

LogModel::Severity severityOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LogModel::Debug;
    case QtWarningMsg:
        return LogModel::Warning;
    case QtCriticalMsg:
        return LogModel::Critical;
    case QtFatalMsg:
        return LogModel::Fatal;
    default:
        return LogModel::Info;
    }
}

// Owns the application log for the whole process. Both fields are fixed once the instance is
// created, so the message handler may read them from any thread without a lock.
struct AppLogHolder
{
    std::unique_ptr<LogModel> model;
    QtMessageHandler previous = nullptr;

    AppLogHolder()
        : model(std::make_unique<LogModel>())
    {
        qRegisterMetaType<LogModel::Severity>("LogModel::Severity");
    }

    ~AppLogHolder()
    {
        // Messages logged during static destruction must not reach a model that is going away.
        qInstallMessageHandler(previous);
    }
};

AppLogHolder& appLogHolder()
{
    static AppLogHolder holder;
    return holder;
}

} // namespace

LogModel::LogModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

LogModel* LogModel::appLog()
{
    static const bool installed = [] {
        AppLogHolder& holder = appLogHolder();
        holder.previous = qInstallMessageHandler(&LogModel::messageHandler);
        return true;
    }();
    Q_UNUSED(installed);
    return appLogHolder().model.get();
}

void LogModel::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    AppLogHolder& holder = appLogHolder();
    if (!text.contains(QLatin1String(kSkippedShortcutMessage))) {
        LogModel* model = holder.model.get();
        const QDateTime time = QDateTime::currentDateTime();
        const QString category = QString::fromUtf8(context.category);
        const QString function = QString::fromUtf8(context.function);
        const Severity severity = severityOf(type);
        QMetaObject::invokeMethod(
            model,
            [model, time, category, severity, function, text] {
                model->appendEntry(time, category, severity, function, text);
            },
            Qt::AutoConnection);
    }
    if (holder.previous)
        holder.previous(type, context, text);
}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || std::size_t(index.row()) >= m_entries.size())
        return {};
    const LogEntry& entry = m_entries[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return entry.time.toString(Qt::ISODateWithMs) + QStringLiteral(": ") + message(entry);
    case TimeRole:
        return entry.time;
    case CategoryRole:
        return m_names.name(entry.category);
    case SeverityRole:
        return int(entry.severity);
    case FunctionRole:
        return m_names.name(entry.function);
    case MessageRole:
        return message(entry);
    default:
        return {};
    }
}

QHash<int, QByteArray> LogModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(TimeRole, "time");
    names.insert(CategoryRole, "category");
    names.insert(SeverityRole, "severity");
    names.insert(FunctionRole, "function");
    names.insert(MessageRole, "message");
    return names;
}

void LogModel::clear()
{
    beginResetModel();
    m_entries = std::deque<LogEntry>();
    m_names.clear();
    m_texts.clear();
    endResetModel();
}

void LogModel::appendEntry(QDateTime time, QString category, Severity severity, QString function, QString msg)
{
    const int row = int(m_entries.size());
    beginInsertRows(QModelIndex(), row, row);
    m_entries.push_back(
        LogEntry{time, m_names.intern(category), severity, m_names.intern(function), m_texts.append(msg)});
    endInsertRows();
}

QString LogModel::saveTo(QString fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString error = file.errorString();
        qDebug("Unable to open file %s: %s", qUtf8Printable(fileName), qUtf8Printable(error));
        return error;
    }
    for (const LogEntry& entry : m_entries) {
        QByteArray line = message(entry).toUtf8();
        line.append('\n');
        if (file.write(line) != line.size())
            break;
    }
    // A full disk or a vanished folder only shows when the buffer is flushed: check it, so a
    // log that did not reach the disk is never reported as saved.
    if (file.error() == QFileDevice::NoError)
        file.flush();
    const bool failed = file.error() != QFileDevice::NoError;
    const QString error = file.errorString();
    file.close();
    if (failed) {
        qWarning("Unable to write file %s: %s", qUtf8Printable(fileName), qUtf8Printable(error));
        return error;
    }
    return {};
}
