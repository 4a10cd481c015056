#include "shell/LogModel.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Finds the newest application-log entry whose message contains the text, or -1.
int findMessage(const LogModel& model, const QString& text)
{
    for (int row = model.rowCount() - 1; row >= 0; --row) {
        if (model.data(model.index(row), LogModel::MessageRole).toString().contains(text))
            return row;
    }
    return -1;
}

} // namespace

TEST(LogModel, RolesAndDisplayText)
{
    LogModel model;
    const QDateTime time(QDate(2025, 7, 1), QTime(12, 34, 56, 789));
    model.appendEntry(time, "cat", LogModel::Warning, "fn", "ok");

    const QModelIndex index = model.index(0);
    EXPECT_EQ(model.data(index, Qt::DisplayRole).toString(), "2025-07-01T12:34:56.789: ok");
    EXPECT_EQ(model.data(index, LogModel::TimeRole).toDateTime(), time);
    EXPECT_EQ(model.data(index, LogModel::CategoryRole).toString(), "cat");
    EXPECT_EQ(model.data(index, LogModel::SeverityRole).toInt(), 2);
    EXPECT_EQ(model.data(index, LogModel::FunctionRole).toString(), "fn");
    EXPECT_EQ(model.data(index, LogModel::MessageRole).toString(), "ok");

    EXPECT_FALSE(model.data(model.index(1), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.data(QModelIndex(), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.data(index, Qt::UserRole + 6).isValid());

    const auto names = model.roleNames();
    EXPECT_EQ(names.value(257), "time");
    EXPECT_EQ(names.value(261), "message");
    EXPECT_EQ(names.value(Qt::DisplayRole), "display");
}

TEST(LogModel, AppendAnnouncesOneRowAndClearResets)
{
    LogModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "a");
    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "b");
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(1).at(2).toInt(), 1);
    EXPECT_EQ(reset.count(), 0);

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(removed.count(), 0);
}

TEST(LogModel, SavesMessagesOnlyOneLineEach)
{
    QTemporaryDir dir;
    LogModel model;
    const QString empty = dir.filePath("empty.txt");
    EXPECT_EQ(model.saveTo(empty), QString());
    EXPECT_EQ(readAll(empty), QByteArray());

    for (const char* text : {"a", "b", "c"})
        model.appendEntry(QDateTime::currentDateTime(), "cat", LogModel::Debug, "fn", text);
    const QString path = dir.filePath("log.txt");
    EXPECT_EQ(model.saveTo(path), QString());
    EXPECT_EQ(readAll(path), QByteArray("a\nb\nc\n"));
}

TEST(LogModel, SaveFailuresAreReported)
{
    LogModel* appLog = LogModel::appLog();
    LogModel model;
    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "line");

    const QString missing = QStringLiteral("/nonexistent-folder/log.txt");
    const QString error = model.saveTo(missing);
    EXPECT_FALSE(error.isEmpty());
    const int row = findMessage(*appLog, "Unable to open file " + missing + ": " + error);
    ASSERT_GE(row, 0);
    EXPECT_EQ(appLog->data(appLog->index(row), LogModel::SeverityRole).toInt(), int(LogModel::Debug));

    // A full disk: the open succeeds, the write does not.
    if (QFile::exists("/dev/full")) {
        EXPECT_FALSE(model.saveTo("/dev/full").isEmpty());
    }
}

TEST(LogModel, WorkerThreadMessagesReachTheAppLogStampedAtEmission)
{
    LogModel* appLog = LogModel::appLog();
    QDateTime beforeEmit;
    QDateTime afterEmit;
    QThread* worker = QThread::create([&] {
        beforeEmit = QDateTime::currentDateTime();
        qWarning("from the worker thread");
        afterEmit = QDateTime::currentDateTime();
    });
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    worker->deleteLater();
    QTest::qWait(50); // the warning waits in the GUI thread's queue until the loop runs
    QCoreApplication::processEvents();

    const int row = findMessage(*appLog, "from the worker thread");
    ASSERT_GE(row, 0);
    EXPECT_EQ(appLog->data(appLog->index(row), LogModel::SeverityRole).toInt(), int(LogModel::Warning));
    const QDateTime stamped = appLog->data(appLog->index(row), LogModel::TimeRole).toDateTime();
    EXPECT_LE(beforeEmit, stamped);
    EXPECT_LE(stamped, afterEmit); // not the later time of delivery
}

TEST(LogModel, ShortcutNoiseIsSkipped)
{
    LogModel* appLog = LogModel::appLog();
    const int before = appLog->rowCount();
    qWarning("QAction::event: Shortcut: Only binding to one of multiple key bindings");
    EXPECT_EQ(appLog->rowCount(), before);
    qInfo("a normal message");
    EXPECT_EQ(appLog->rowCount(), before + 1);
    EXPECT_EQ(appLog->data(appLog->index(before), LogModel::SeverityRole).toInt(), int(LogModel::Info));
}
