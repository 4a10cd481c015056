#include "support/InterfaceFixture.h"

#include "display/DisplayBase.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "ui/InterfaceLoader.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>

#include <gtest/gtest.h>

void InterfaceFixture::TearDown()
{
    unload();
    ControllerFixture::TearDown();
}

void InterfaceFixture::unload()
{
    m_answerer.reset();
    // Dialogs of Qt's own are widgets; none outlives its test.
    for (QWidget* widget : QApplication::topLevelWidgets())
        widget->close();
    if (m_window)
        m_window->close();
    m_engine.reset();
    m_window = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_capture.reset();
}

void InterfaceFixture::load()
{
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOTRIM_VERSION));
    build();
    quickEngineTiming();
    skipReadDelays();
    // The application log's handler first, so that the capture puts it back when it goes.
    LogModel& appLog = *LogModel::appLog();
    m_capture = std::make_unique<MessageCapture>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    ASSERT_TRUE(InterfaceLoader::load(*m_engine, controller(), appLog));
    ASSERT_FALSE(m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    ASSERT_NE(m_window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    ASSERT_TRUE(waitForFrame());
}

void InterfaceFixture::loadBench()
{
    QSettings settings;
    settings.setValue("output", true);
    settings.setValue("camera", true);
    settings.setValue("btMinIterations", 3);
    settings.setValue("btCompliantIterations", 1);
    settings.setValue("btMaxIterations", 40);
    settings.sync();
    load();
}

void InterfaceFixture::enterMode(int mode)
{
    controller().setMode(static_cast<Velotrimmer::Mode>(mode));
    if (mode != Velotrimmer::Linearity) {
        ASSERT_TRUE(waitUntil([this] { return controller().display()->adjustableLdmCount() > 0; }, 5000));
        // The main window's wall view shows the wall from its next frame (and fits it then).
        QObject* grid = find(QStringLiteral("wallGrid"));
        ASSERT_NE(grid, nullptr);
        const DisplayBase* display = controller().display();
        const uint shown = mode == Velotrimmer::Template ? display->tileCount() : display->ldmCount();
        ASSERT_TRUE(waitUntil([&] { return grid->property("itemCount").toUInt() == shown; }, 5000));
    }
    ASSERT_TRUE(waitForFrame());
}

QObject* InterfaceFixture::ui() const
{
    return m_window->property("ui").value<QObject*>();
}

QList<QObject*> InterfaceFixture::allObjects(QObject* root) const
{
    // Breadth first over the object tree and the item tree of every window.
    QList<QObject*> found;
    QQueue<QObject*> queue;
    queue.enqueue(root ? root : m_window);
    QSet<QObject*> seen;
    while (!queue.isEmpty()) {
        QObject* object = queue.dequeue();
        if (!object || seen.contains(object))
            continue;
        seen.insert(object);
        found.append(object);
        for (QObject* child : object->children())
            queue.enqueue(child);
        if (auto* item = qobject_cast<QQuickItem*>(object)) {
            for (QQuickItem* child : item->childItems())
                queue.enqueue(child);
        }
        if (auto* window = qobject_cast<QQuickWindow*>(object))
            queue.enqueue(window->contentItem());
        if (QObject* content = object->property("contentItem").value<QObject*>())
            queue.enqueue(content);
    }
    return found;
}

QObject* InterfaceFixture::find(const QString& name, QObject* within) const
{
    for (QObject* object : allObjects(within)) {
        if (object->objectName() == name)
            return object;
    }
    ADD_FAILURE() << "no object named " << name.toStdString();
    return nullptr;
}

QQuickItem* InterfaceFixture::item(const QString& name, QObject* within) const
{
    auto* found = qobject_cast<QQuickItem*>(find(name, within));
    EXPECT_NE(found, nullptr) << name.toStdString() << " is not an item";
    return found;
}

QObject* InterfaceFixture::action(const char* name) const
{
    auto* actions = ui()->property("actions").value<QObject*>();
    auto* found = actions ? actions->property(name).value<QObject*>() : nullptr;
    EXPECT_NE(found, nullptr) << "no action " << name;
    return found;
}

void InterfaceFixture::click(QQuickItem* item)
{
    clickAt(item, QPointF(item->width() / 2, item->height() / 2));
}

QObject* InterfaceFixture::hoverForToolTip(QQuickItem* control) const
{
    QObject* toolTip = nullptr;
    for (QObject* child : control->children()) {
        if (child->inherits("QQuickToolTip"))
            toolTip = child;
    }
    EXPECT_NE(toolTip, nullptr) << control->objectName().toStdString() << " has no tool tip";
    if (!toolTip)
        return nullptr;
    scrollIntoView(control);
    QTest::mouseMove(m_window, QPoint(1, 1));
    QTest::mouseMove(m_window, control->mapToScene(QPointF(control->width() / 2, control->height() / 2)).toPoint());
    const bool opened = waitUntil([&] { return toolTip->property("opened").toBool(); }, 5000);
    EXPECT_TRUE(opened) << "the tool tip of " << control->objectName().toStdString() << " did not open";
    return opened ? toolTip : nullptr;
}

QColor renderedAt(QQuickWindow* window, QPointF scene)
{
    const QImage frame = window->grabWindow();
    const QPoint at = (scene * frame.devicePixelRatio()).toPoint();
    EXPECT_TRUE(frame.rect().contains(at)) << scene.x() << ", " << scene.y() << " is outside the window";
    return frame.pixelColor(at);
}

QColor ldmFill(QQuickItem* grid, DisplayBase* display, int number)
{
    const double zoom = grid->property("zoom").toDouble();
    const QPointF centre((display->ldmX(number) + display->ldmWidth(number) / 2.0 - display->minX()) * zoom,
                         (display->ldmY(number) + display->ldmHeight(number) / 2.0 - display->minY()) * zoom);
    return renderedAt(grid->window(), grid->mapToScene(centre));
}

QLineEdit* nameField(QFileDialog* dialog)
{
    auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
    EXPECT_NE(field, nullptr);
    return field;
}

QString proposedName(QFileDialog* dialog)
{
    QLineEdit* field = nameField(dialog);
    return field ? field->text() : QString();
}

QPushButton* acceptButton(QFileDialog* dialog)
{
    auto* box = dialog->findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : box ? box->buttons() : QList<QAbstractButton*>()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
            return qobject_cast<QPushButton*>(button);
    }
    ADD_FAILURE() << "the file dialog has no accept button";
    return nullptr;
}

void InterfaceFixture::scrollIntoView(QQuickItem* item)
{
    for (QQuickItem* ancestor = item->parentItem(); ancestor; ancestor = ancestor->parentItem()) {
        if (!ancestor->inherits("QQuickFlickable"))
            continue;
        auto* content = ancestor->property("contentItem").value<QQuickItem*>();
        if (!content)
            return;
        const double top = item->mapToItem(content, QPointF(0, 0)).y();
        const double height = ancestor->height();
        const double contentY = ancestor->property("contentY").toDouble();
        if (top < contentY || top + item->height() > contentY + height) {
            const double limit = std::max(0.0, ancestor->property("contentHeight").toDouble() - height);
            ancestor->setProperty("contentY", std::clamp(top - height / 3, 0.0, limit));
        }
        return;
    }
}

void InterfaceFixture::clickAt(QQuickItem* item, QPointF point, Qt::KeyboardModifiers modifiers)
{
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->window(), nullptr) << qPrintable(item->objectName()) << " is in no window";
    // Where the item is drawn: what it was shown with (a menu just opened, a panel just filled) is
    // laid out at the next frame.
    ASSERT_TRUE(waitForFrame(item->window()));
    scrollIntoView(item);
    QTest::mouseClick(item->window(), Qt::LeftButton, modifiers, item->mapToScene(point).toPoint());
}

void InterfaceFixture::wheelAt(QQuickItem* item, QPointF point, QPoint angle, Qt::KeyboardModifiers modifiers)
{
    ASSERT_NE(item, nullptr);
    QQuickWindow* window = item->window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitForFrame(window));
    const QPointF at = item->mapToScene(point);
    QWheelEvent wheel(at, window->mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QGuiApplication::sendEvent(window, &wheel);
}

void InterfaceFixture::drag(QQuickItem* item, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers)
{
    ASSERT_NE(item, nullptr);
    QWindow* window = item->window();
    const QPoint start = item->mapToScene(from).toPoint();
    const QPoint end = item->mapToScene(to).toPoint();
    QTest::mousePress(window, Qt::LeftButton, modifiers, start);
    constexpr int steps = 5;
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = start + (end - start) * i / steps;
        QTest::mouseMove(window, at, 10);
    }
    QTest::mouseRelease(window, Qt::LeftButton, modifiers, end, 10);
}

void InterfaceFixture::typeInto(QQuickItem* field, const QString& text)
{
    ASSERT_NE(field, nullptr);
    click(field);
    QWindow* window = field->window();
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    for (const QChar character : text)
        QTest::keyClick(window, character.toLatin1());
    QTest::keyClick(window, Qt::Key_Return);
}

void InterfaceFixture::clickMenuItem(const QString& name)
{
    auto* row = qobject_cast<QQuickItem*>(find(name));
    ASSERT_NE(row, nullptr);
    // The menu bar entry whose menu holds the row: open it, then click the row as a user would.
    for (QObject* object : allObjects()) {
        if (!object->inherits("QQuickMenuBarItem"))
            continue;
        auto* menu = object->property("menu").value<QObject*>();
        if (!menu)
            continue;
        const int count = menu->property("count").toInt();
        for (int i = 0; i < count; ++i) {
            QQuickItem* entry = nullptr;
            QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, entry), Q_ARG(int, i));
            if (entry != row)
                continue;
            click(qobject_cast<QQuickItem*>(object));
            ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }, 2000)) << name.toStdString();
            const bool enabled = row->isEnabled();
            click(row);
            // A disabled row leaves the menu open, as it would for a user, who then closes it.
            if (!enabled)
                QTest::keyClick(m_window, Qt::Key_Escape);
            EXPECT_TRUE(QTest::qWaitFor([menu] { return !menu->property("visible").toBool(); }, 2000));
            return;
        }
    }
    ADD_FAILURE() << name.toStdString() << " is in no menu of the menu bar";
}

bool InterfaceFixture::waitForFrame(QQuickWindow* shown, int limitMs)
{
    if (!shown || !shown->isExposed())
        return false;
    // A frame asked for now is made after every change so far was polished and synchronised.
    QSignalSpy frames(shown, &QQuickWindow::frameSwapped);
    shown->update();
    return frames.wait(limitMs);
}

bool InterfaceFixture::waitForFrame() const
{
    return waitForFrame(m_window);
}

QFileDialog* InterfaceFixture::shownFileDialog(int limitMs)
{
    QFileDialog* shown = nullptr;
    const bool found = QTest::qWaitFor(
        [&shown] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                if (dialog && dialog->isVisible())
                    shown = dialog;
            }
            return shown != nullptr;
        },
        limitMs);
    return found ? shown : nullptr;
}

void InterfaceFixture::answerWhenAsked(const QString& buttonText)
{
    m_answered = false;
    m_answerer = std::make_unique<QTimer>();
    m_answerer->setInterval(20);
    QObject::connect(m_answerer.get(), &QTimer::timeout, [this, buttonText] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove(QLatin1Char('&')) == buttonText) {
                m_answerer->stop();
                m_answered = true;
                button->click();
                return;
            }
        }
    });
    m_answerer->start();
}

QStringList InterfaceFixture::warnings() const
{
    QStringList found = m_capture ? m_capture->warnings() : QStringList();
    found.removeIf([](const QString& warning) { return warning.startsWith("This plugin does not support "); });
    return found;
}

void InterfaceFixture::expectNoWarnings() const
{
    const QStringList found = warnings();
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}

void InterfaceFixture::expectNoWarningsButFailedPolls() const
{
    QStringList found = warnings();
    found.removeIf([](const QString& warning) { return warning.startsWith(QLatin1String("Error updating display: ")); });
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}
