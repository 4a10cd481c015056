#include "process/AsioPump.h"
#include "process/DisplayFallback.h"
#include "process/InstanceLock.h"
#include "process/QuitSignals.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "ui/DarkTheme.h"
#include "ui/InterfaceLoader.h"
#include "ui/ThemeSetting.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <QApplication>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace {

// Lets the tests start the real binary on a root file that cannot load; never set in use.
constexpr auto kTestRootVariable = "VELOTRIM_TEST_ROOT_URL";
// Upper bound for the handlers that cancelled network work still has to run at exit.
constexpr std::chrono::seconds kDrainLimit{2};
// The exit status of a start that is refused: velotrim already runs, or its lock cannot be made.
constexpr int kStartRefused = 1;

QUrl rootUrl()
{
    const QString overridden = qEnvironmentVariable(kTestRootVariable);
    return QUrl(overridden.isEmpty() ? QString::fromLatin1(InterfaceLoader::RootUrl) : overridden);
}

// A start that may not go on: says why in the log and, where a window can be seen, in a message
// box until the operator closes it (or a signal ends it); it touches nothing of the settings.
// Without a display nobody could close the box: the start ends at once.
int refuseStart(const InstanceLock& lock, InstanceLock::Outcome outcome)
{
    const bool held = outcome == InstanceLock::Outcome::Held;
    if (held)
        qCritical("Velotrim is already running (%s is held); this start ends.", qUtf8Printable(lock.path()));
    else
        qCritical("Velotrim cannot start: %s.", qUtf8Printable(lock.error()));
    if (!DisplayFallback::windowsCanBeSeen())
        return kStartRefused;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                    held ? QStringLiteral("Velotrim is already running.") : QStringLiteral("Velotrim cannot start."),
                    QMessageBox::Ok);
    box.setInformativeText(held ? QStringLiteral("Only one Velotrim runs at a time: two would share the settings and "
                                                 "drive the same processor. Use the window that is open.")
                                : QStringLiteral("Its settings cannot be kept: %1.").arg(lock.error()));
    QObject::connect(&box, &QMessageBox::finished, qApp, &QCoreApplication::quit);
    box.show();
    QApplication::exec();
    return kStartRefused;
}

} // namespace

int main(int argc, char* argv[])
{
    // First of all, so that every later message lands in the application log.
    LogModel* appLog = LogModel::appLog();

    DisplayFallback::chooseOffscreenWithoutDisplay(argc, argv);
    QApplication app(argc, argv);
    // Ctrl+C and SIGTERM quit the loop as closing the window does; taken from the start, so that a
    // signal during start-up also ends in order once the loop runs.
    const QuitSignals quitSignals;
    QApplication::setApplicationVersion(QStringLiteral(VELOTRIM_VERSION));
    qDebug("version is %s", qUtf8Printable(QApplication::applicationVersion()));
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationDomain(QStringLiteral("corvane.com"));
    QApplication::setApplicationName(QStringLiteral("Velotrim"));
    qDebug("native is %d", QApplication::testAttribute(Qt::AA_DontUseNativeMenuBar) ? 1 : 0);

    DarkTheme::applyIfRequested(app, ThemeSetting::appsUseLightTheme());

    // Before anything reads or writes the settings: they are the first one's while it runs.
    InstanceLock instance(InstanceLock::settingsFolder());
    if (const InstanceLock::Outcome outcome = instance.tryLock(); outcome != InstanceLock::Outcome::Taken)
        return refuseStart(instance, outcome);

    auto engine = std::make_unique<QQmlApplicationEngine>();

    auto ioContext = std::make_unique<boost::asio::io_context>();
    std::optional workGuard{boost::asio::make_work_guard(*ioContext)};
    auto pump = std::make_unique<AsioPump>(*ioContext);
    pump->start();

    // A child of the application object, released explicitly below: its devices must go while the
    // I/O context still exists.
    auto velotrimmer = std::make_unique<Velotrimmer>(*ioContext, &app);
    const QUrl url = rootUrl();
    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject* object, const QUrl& objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    InterfaceLoader::load(*engine, *velotrimmer, *appLog, url);
    QObject::connect(&app, &QApplication::aboutToQuit, velotrimmer.get(), &Velotrimmer::aboutToQuit);

    const int result = QApplication::exec();

    // The controller has cancelled its network work and joined its threads (aboutToQuit). Stop
    // pumping, let the cancelled operations finish their handlers, then release the interface, the
    // controller with its devices, and only then the context they used.
    pump.reset();
    velotrimmer->aboutToQuit();
    workGuard.reset();
    ioContext->restart();
    ioContext->run_for(kDrainLimit);
    engine.reset();
    velotrimmer.reset();
    ioContext.reset();
    qDebug("Shut down with status %d", result);
    return result;
}
