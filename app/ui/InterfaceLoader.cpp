#include "ui/InterfaceLoader.h"

#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "ui/DarkTheme.h"
#include "ui/FileDialogIcons.h"
#include "ui/ImageItem.h"
#include "ui/WallView.h"
#include "ui/WindowPlacement.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml>

bool InterfaceLoader::load(QQmlApplicationEngine& engine, Velotrimmer& velotrimmer, LogModel& appLog, const QUrl& root)
{
    registerTypes();
    // Before the first control is created; the style is the process's, set once.
    static const bool styled = [] {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        QQuickWindow::setTextRenderType(QQuickWindow::QtTextRendering);
        return true;
    }();
    Q_UNUSED(styled);
    FileDialogIcons::install();
    QQmlContext* context = engine.rootContext();
    context->setContextProperty(QStringLiteral("qtVersion"), QString::fromLatin1(qVersion()));
    context->setContextProperty(QStringLiteral("velotrimVersion"), QCoreApplication::applicationVersion());
    context->setContextProperty(QStringLiteral("velotrimmer"), &velotrimmer);
    context->setContextProperty(QStringLiteral("appLog"), &appLog);
    context->setContextProperty(QStringLiteral("linearityLog"), velotrimmer.linearityLog());
    const qsizetype before = engine.rootObjects().size();
    engine.load(root);
    if (engine.rootObjects().size() <= before)
        return false;
    DarkTheme::applyToWindows(*engine.rootObjects().constLast());
    return true;
}

void InterfaceLoader::registerTypes()
{
    static const bool registered = [] {
        qmlRegisterType<ImageItem>("ImageItem", 1, 0, "ImageItem");
        qmlRegisterSingletonType<WindowPlacement>("WindowPlacement", 1, 0, "WindowPlacement",
                                                  [](QQmlEngine*, QJSEngine*) { return new WindowPlacement; });
        qmlRegisterType<WallView>("WallView", 1, 0, "WallView");
        return true;
    }();
    Q_UNUSED(registered);
}
