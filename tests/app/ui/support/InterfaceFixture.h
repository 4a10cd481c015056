#pragma once

#include "support/ControllerFixture.h"
#include "support/MessageCapture.h"

#include <QColor>
#include <QPoint>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <memory>

class DisplayBase;
class QFileDialog;
class QLineEdit;
class QPushButton;

// A window rendered now and read back at a point of its scene.
QColor renderedAt(QQuickWindow* window, QPointF scene);
// The colour a wall view shows an LDM in: its window rendered and read back at the LDM's centre
// (inside the frame, which the balance target's outline only borders).
QColor ldmFill(QQuickItem* grid, DisplayBase* display, int number);

// Qt's own file dialog: its file name field, the name it proposes there, and its accept button.
QLineEdit* nameField(QFileDialog* dialog);
QString proposedName(QFileDialog* dialog);
QPushButton* acceptButton(QFileDialog* dialog);

// The real interface (main.qml, loaded through the program's own set-up) over a real controller,
// offscreen, with the controller's private settings and quick engine timing. Every Qt message
// from the load on is captured; a test ends by checking there was no warning.
class InterfaceFixture : public ControllerFixture
{
protected:
    void TearDown() override;

    // Builds the controller (after any settings the test stored) and loads the interface.
    void load();
    // Closes the interface and lets it go (the controller stays): as the program's end leaves the
    // settings, for a test that starts it again with load() after destroy().
    void unload();
    // The interface on a bench without hardware: the simulated display and the dummy camera,
    // with short uniformity runs.
    void loadBench();
    // Switches the controller to a mode and, in the uniformity modes, waits for the wall and
    // for the main window's wall view to show it.
    void enterMode(int mode);
    QQuickWindow* window() const { return m_window; }
    // The main window's content (MainUI).
    QObject* ui() const;
    // An object of the interface by objectName, in any of its windows; fails the test when absent.
    QObject* find(const QString& name, QObject* within = nullptr) const;
    // Every object of the main window and the windows it holds (or of one object).
    QList<QObject*> allObjects(QObject* root = nullptr) const;
    QQuickItem* item(const QString& name, QObject* within = nullptr) const;
    // An action of the main window by its property name ("runAction").
    QObject* action(const char* name) const;

    // Real input: a left click at the centre of an item (or at a point of it).
    static void click(QQuickItem* item);
    static void clickAt(QQuickItem* item, QPointF point, Qt::KeyboardModifiers modifiers = {});
    // Scrolls the nearest flickable around an item so that the item is in view.
    static void scrollIntoView(QQuickItem* item);
    // Brings the pointer onto a control from outside it and waits until its tool tip is open;
    // the tool tip, or null (the test failed) when it has none or it did not open. Hover effects
    // must be on.
    QObject* hoverForToolTip(QQuickItem* control) const;
    // A mouse wheel turned over a point of an item, by Qt's angle (120 a notch; y up, x left).
    static void wheelAt(QQuickItem* item, QPointF point, QPoint angle, Qt::KeyboardModifiers modifiers = {});
    // A drag with the left button from one point of an item to another.
    static void drag(QQuickItem* item, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {});
    // Replaces the text of a text field as a user would (click, select all, type, Enter).
    static void typeInto(QQuickItem* field, const QString& text);
    // Clicks a menu row (it triggers its action only when enabled).
    void clickMenuItem(const QString& name);
    // Waits until a window (the main window unless given) has rendered a frame asked for now: every
    // change so far is laid out and drawn. False when the window is not on show or after the limit.
    bool waitForFrame() const;
    static bool waitForFrame(QQuickWindow* shown, int limitMs = 5000);

    // The file dialog on show (Qt's own, where the platform has none), once it is; null after the
    // limit.
    static QFileDialog* shownFileDialog(int limitMs = 5000);
    // The question a widget shows in an event loop of its own (a file dialog asking before it
    // replaces a file): answered with the button of this text as soon as it is asked. The answer
    // waits in the event loop, so call this before the input that asks.
    void answerWhenAsked(const QString& buttonText);
    // Whether the last question prepared with answerWhenAsked was asked and answered.
    bool answered() const { return m_answered; }

    // The warnings since the load, every one a failure; not the offscreen platform's notes that it
    // lacks what a window system does for a dialog of Qt's own (size hints, raising, grabbing).
    QStringList warnings() const;
    void expectNoWarnings() const;
    // The program polls the processor every 10 s and warns when it does not answer (without an
    // address it never does): the device's word, not the interface's. No other warning is allowed.
    void expectNoWarningsButFailedPolls() const;

    std::unique_ptr<MessageCapture> m_capture;
    std::unique_ptr<QTimer> m_answerer;
    bool m_answered = false;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
};
