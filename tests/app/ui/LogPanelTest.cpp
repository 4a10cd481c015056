// The interface's log panel in the real QML engine, offscreen: the frames its window draws while
// lines come into the log it shows, or would show were it visible.
#include "shell/LogModel.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// A window that holds a log panel, as the main window does: the panel inside an item, so that
// either may hide it. Made at the panel's own place in the resources, where it finds LogPanel.
constexpr auto kHost = R"(
import QtQuick
Window {
    width: 480
    height: 320
    visible: true
    property alias panelShown: panel.visible
    property alias hostShown: host.visible
    property alias log: panel.model
    Item {
        id: host
        anchors.fill: parent
        LogPanel {
            id: panel
            anchors.fill: parent
            title: "Log Messages"
        }
    }
}
)";
const QUrl kHostUrl(QStringLiteral("qrc:/src/ui/LogPanelHost.qml"));

// A window that has drawn nothing for this long has no frame pending.
constexpr int kQuietMs = 300;
// Bounds on every wait.
constexpr int kWaitMs = 5000;

class LogPanelFrames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every message the panel's QML writes reaches the application log.
        m_firstMessage = LogModel::appLog()->rowCount();
        QQmlComponent component(&m_engine);
        component.setData(kHost, kHostUrl);
        m_window.reset(qobject_cast<QQuickWindow*>(component.create()));
        ASSERT_NE(m_window, nullptr) << qPrintable(component.errorString());
        // A frame is counted as it is drawn, on whichever thread draws it.
        QObject::connect(m_window.get(), &QQuickWindow::afterRendering, m_window.get(), [this] { ++m_frames; },
                         Qt::DirectConnection);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void TearDown() override
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const LogModel& appLog = *LogModel::appLog();
        for (int row = m_firstMessage; row < appLog.rowCount(); ++row) {
            const QModelIndex index = appLog.index(row);
            EXPECT_LT(appLog.data(index, LogModel::SeverityRole).toInt(), int(LogModel::Warning))
                << qPrintable(appLog.data(index, LogModel::MessageRole).toString());
        }
    }

    void show(LogModel* log) { m_window->setProperty("log", QVariant::fromValue(static_cast<QObject*>(log))); }
    void setShown(const char* which, bool shown) { m_window->setProperty(which, shown); }

    // Runs the event loop until the window has drawn nothing for a while; false when it keeps
    // drawing.
    bool waitUntilQuiet()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kWaitMs) {
            const int before = m_frames;
            QTest::qWait(kQuietMs);
            if (m_frames == before)
                return true;
        }
        return false;
    }

    int frames() const { return m_frames; }
    QQuickItem* view() const { return listViewIn(m_window->contentItem()); }

    static QQuickItem* listViewIn(QQuickItem* item)
    {
        if (item->inherits("QQuickListView"))
            return item;
        for (QQuickItem* child : item->childItems()) {
            if (QQuickItem* found = listViewIn(child))
                return found;
        }
        return nullptr;
    }

    int m_firstMessage = 0;
    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::atomic<int> m_frames{0};
};

void appendLines(LogModel& log, int count)
{
    for (int i = 0; i < count; ++i)
        log.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, QStringLiteral("line %1").arg(i));
}

// Lines as other threads send them: each a queued call, delivered together on the next turn of
// the event loop.
void queueLines(LogModel& log, int count)
{
    for (int i = 0; i < count; ++i) {
        QMetaObject::invokeMethod(
            &log, [&log, i] { log.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {},
                                              QStringLiteral("queued %1").arg(i)); },
            Qt::QueuedConnection);
    }
}

TEST_F(LogPanelFrames, AHiddenPanelDrawsNoFrameForItsLines)
{
    LogModel log;
    appendLines(log, 50);
    show(&log);
    for (const char* hiding : {"panelShown", "hostShown"}) {
        SCOPED_TRACE(hiding);
        setShown(hiding, false);
        ASSERT_TRUE(waitUntilQuiet());
        const int before = frames();
        for (int burst = 0; burst < 10; ++burst) {
            appendLines(log, 1);
            queueLines(log, 20);
            const int expected = log.rowCount() + 20;
            ASSERT_TRUE(QTest::qWaitFor([&] { return log.rowCount() == expected; }, kWaitMs));
        }
        EXPECT_TRUE(waitUntilQuiet());
        EXPECT_EQ(frames(), before);
        setShown(hiding, true);
    }
}

TEST_F(LogPanelFrames, ABurstOfLinesIsOneFrame)
{
    LogModel log;
    appendLines(log, 50);
    show(&log);
    ASSERT_TRUE(waitUntilQuiet());
    for (int burst = 0; burst < 3; ++burst) {
        SCOPED_TRACE(burst);
        const int before = frames();
        queueLines(log, 200);
        EXPECT_TRUE(waitUntilQuiet());
        EXPECT_EQ(frames(), before + 1);
        QQuickItem* list = view();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->property("count").toInt(), log.rowCount());
        EXPECT_TRUE(list->property("atYEnd").toBool());
    }
}

// A hidden panel lets go of its log; shown again, it follows the newest line when it did before,
// and is back at the line a reader had scrolled to when not.
TEST_F(LogPanelFrames, AShownAgainPanelIsWhereItWas)
{
    LogModel log;
    appendLines(log, 500);
    show(&log);
    QQuickItem* list = view();
    ASSERT_NE(list, nullptr);
    const auto shows = [&](int rows, bool atEnd) {
        return QTest::qWaitFor(
            [&] { return list->property("count").toInt() == rows && list->property("atYEnd").toBool() == atEnd; },
            kWaitMs);
    };
    ASSERT_TRUE(shows(500, true));

    setShown("panelShown", false);
    appendLines(log, 100);
    setShown("panelShown", true);
    EXPECT_TRUE(shows(600, true));

    // A reader drags the lines down, away from the newest, and lets the view come to rest.
    const QPoint top = list->mapToScene(QPointF(list->width() / 2, 20)).toPoint();
    QTest::mousePress(m_window.get(), Qt::LeftButton, {}, top);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(m_window.get(), top + QPoint(0, step * 20), 10);
    QTest::mouseRelease(m_window.get(), Qt::LeftButton, {}, top + QPoint(0, 200), 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->property("moving").toBool(); }, kWaitMs));
    ASSERT_FALSE(list->property("atYEnd").toBool());
    const auto firstInView = [&] {
        int row = -1;
        QMetaObject::invokeMethod(list, "indexAt", Q_RETURN_ARG(int, row),
                                  Q_ARG(qreal, list->property("contentX").toReal() + 1),
                                  Q_ARG(qreal, list->property("contentY").toReal() + 1));
        return row;
    };
    const int reading = firstInView();
    ASSERT_GT(reading, 0);

    setShown("panelShown", false);
    appendLines(log, 100);
    setShown("panelShown", true);
    EXPECT_TRUE(shows(700, false));
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstInView() == reading; }, kWaitMs)) << firstInView() << " " << reading;
}

// Qt's scene-graph timing log writes a line for every frame; into the application log, a view
// that answered each line with a frame would draw without end.
TEST_F(LogPanelFrames, TheSceneGraphTimingLogDoesNotKeepAHiddenPanelDrawing)
{
    LogModel* appLog = LogModel::appLog();
    show(appLog);
    setShown("panelShown", false);
    ASSERT_TRUE(waitUntilQuiet());
    QLoggingCategory::setFilterRules(QStringLiteral("qt.scenegraph.time.renderloop=true"));
    const int rows = appLog->rowCount();
    m_window->requestUpdate();
    const bool quiet = waitUntilQuiet();
    QLoggingCategory::setFilterRules(QString());
    EXPECT_TRUE(quiet) << frames() << " frames";
    EXPECT_GT(appLog->rowCount(), rows) << "the timing log wrote nothing";
}

} // namespace
