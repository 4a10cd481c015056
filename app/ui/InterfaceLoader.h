#pragma once

#include <QUrl>

class LogModel;
class QQmlApplicationEngine;
class Velotrimmer;

// Sets up the QML engine the way the program runs it, for the program and for the tests alike:
// registers the interface's own types, publishes the context properties the interface reads and
// loads its root file.
class InterfaceLoader
{
public:
    static constexpr const char* RootUrl = "qrc:/src/ui/main.qml";

    // Sets the "Fusion" style, registers the types, gives Qt's own file dialogs icons told by file
    // names only (FileDialogIcons), publishes "qtVersion", "velotrimVersion", "velotrimmer",
    // "appLog" and "linearityLog", then loads the root and gives its windows the dark palette when
    // the application carries it. True when the root object was created.
    static bool load(QQmlApplicationEngine& engine, Velotrimmer& velotrimmer, LogModel& appLog,
                     const QUrl& root = QUrl(QString::fromLatin1(RootUrl)));

    // The interface's own QML types; safe to call more than once.
    static void registerTypes();
};
