#include "support/QtPrinters.h"
#include "support/StartedProgram.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// The build as it leaves the build tree: installed into a fresh prefix with `cmake --install`, a
// project of its own built there against the installed package, and the installed program
// started on fresh settings.

namespace {

// Configuring and building the consumer in the sanitizer build on a loaded machine.
constexpr int kCommandLimit = 240000; // ms

struct CommandResult {
    bool succeeded = false; // ran to its end and exited 0
    QByteArray output;      // standard output and error, merged
};

CommandResult runCommand(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    CommandResult result;
    const bool finished = process.waitForFinished(kCommandLimit);
    result.output = process.readAll();
    if (!finished) {
        result.output += "\n(did not finish: " + process.errorString().toUtf8() + ")";
        process.kill();
        process.waitForFinished(kCommandLimit);
        return result;
    }
    result.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}

QStringList sortedUnique(QStringList texts)
{
    texts.sort();
    texts.removeDuplicates();
    return texts;
}

// Every file and symbolic link under a folder, by path.
QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return sortedUnique(files);
}

// The include folders of each compilation in a compile_commands.json, in the forms GCC and Clang
// take ("-I<dir>", "-I <dir>", "-isystem <dir>", "-iquote <dir>", "-idirafter <dir>").
QStringList includeFolders(const QString& compileCommands)
{
    QFile file(compileCommands);
    if (!file.open(QIODevice::ReadOnly))
        return {"(no " + compileCommands + ")"};
    QStringList folders;
    static const QStringList kOptions{"-I", "-isystem", "-iquote", "-idirafter"};
    for (const QJsonValue entry : QJsonDocument::fromJson(file.readAll()).array()) {
        const QStringList arguments = QProcess::splitCommand(entry.toObject().value("command").toString());
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            for (const QString& option : kOptions) {
                if (arguments[i] == option && i + 1 < arguments.size())
                    folders.append(QDir::cleanPath(arguments[++i]));
                else if (option == "-I" && arguments[i].startsWith(option) && arguments[i].size() > 2)
                    folders.append(QDir::cleanPath(arguments[i].mid(2)));
            }
        }
    }
    return sortedUnique(folders);
}

} // namespace

class Install : public testing::Test {
protected:
    // One installation for the cases of a process.
    static void SetUpTestSuite()
    {
        s_prefix = std::make_unique<QTemporaryDir>();
        // By its real path, as the running program's memory map names its libraries.
        s_prefixPath = QDir(s_prefix->path()).canonicalPath();
        s_install = runCommand(CMAKE_COMMAND, {"--install", BUILD_DIR, "--prefix", s_prefixPath});
    }
    static void TearDownTestSuite() { s_prefix.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_prefix->isValid());
        ASSERT_TRUE(s_install.succeeded) << s_install.output.constData();
    }

    static QString installed(const QString& relative) { return s_prefixPath + "/" + relative; }

    static inline std::unique_ptr<QTemporaryDir> s_prefix;
    static inline QString s_prefixPath;
    static inline CommandResult s_install;
};

// What the installation says it puts is exactly what it puts: the program, the library by its
// version and its SONAME, the package files, and every header that declares what the library
// exports, in its folder.
TEST_F(Install, ListsEveryFileItPutsInThePrefix)
{
    static const QRegularExpression kListed("^-- (?:Installing|Up-to-date): (.+)$",
                                            QRegularExpression::MultilineOption);
    QStringList listed;
    for (auto it = kListed.globalMatch(QString::fromUtf8(s_install.output)); it.hasNext();)
        listed.append(it.next().captured(1));
    listed = sortedUnique(listed);
    EXPECT_EQ(listed, filesUnder(s_prefixPath)) << s_install.output.constData();

    const QString lib = QStringLiteral(INSTALL_LIBDIR) + "/";
    const QString package = lib + "cmake/tessella/";
    const QString include = QStringLiteral(INSTALL_INCLUDEDIR) + "/tessella/";
    for (const QString& expected :
         {QStringLiteral(INSTALL_BINDIR) + "/velotrim", lib + "libtessella.so",
          lib + "libtessella.so." TESSELLA_SOVERSION, lib + "libtessella.so." TESSELLA_VERSION,
          package + "tessellaConfig.cmake", package + "tessellaConfigVersion.cmake", include + "TessellaExport.h"})
        EXPECT_TRUE(listed.contains(installed(expected))) << expected.toStdString();
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral(INSTALL_BINDIR) + "/velotrim")).isExecutable());

    const CommandResult dynamic = runCommand("readelf", {"-d", installed(lib + "libtessella.so")});
    ASSERT_TRUE(dynamic.succeeded) << dynamic.output.constData();
    EXPECT_TRUE(dynamic.output.contains("Library soname: [libtessella.so." TESSELLA_SOVERSION "]"))
        << dynamic.output.constData();

    QDirIterator sources(LIBRARY_SOURCE_DIR, {"*.h"}, QDir::Files, QDirIterator::Subdirectories);
    int exporting = 0;
    while (sources.hasNext()) {
        QFile header(sources.next());
        ASSERT_TRUE(header.open(QIODevice::ReadOnly));
        if (!header.readAll().contains("TESSELLA_EXPORT"))
            continue;
        ++exporting;
        const QString relative = QDir(LIBRARY_SOURCE_DIR).relativeFilePath(header.fileName());
        EXPECT_TRUE(listed.contains(installed(include + relative))) << relative.toStdString() << " is not installed";
    }
    EXPECT_GT(exporting, 0);
}

// A project that writes only find_package(tessella 1.0) and tessella::tessella builds with the
// package's include folder and no other, compiles every installed header, and its tool works.
TEST_F(Install, AProjectOfItsOwnBuildsAndRunsAgainstThePackageAlone)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString build = work.filePath("build");
    const CommandResult configured =
        runCommand(CMAKE_COMMAND, {"-C", CONSUMER_CACHE, "-G", CMAKE_GENERATOR, "-S", CONSUMER_SOURCE_DIR, "-B", build,
                                   "-DCMAKE_PREFIX_PATH=" + s_prefixPath});
    ASSERT_TRUE(configured.succeeded) << configured.output.constData();
    const CommandResult built = runCommand(CMAKE_COMMAND, {"--build", build});
    ASSERT_TRUE(built.succeeded) << built.output.constData();

    EXPECT_EQ(includeFolders(build + "/compile_commands.json"),
              QStringList{installed(QStringLiteral(INSTALL_INCLUDEDIR) + "/tessella")});

    const CommandResult ran =
        runCommand(build + "/consumer", {work.path(), QStringLiteral(CONSUMER_SOURCE_DIR) + "/wall.coef"});
    EXPECT_TRUE(ran.succeeded) << ran.output.constData();
    EXPECT_TRUE(ran.output.contains("every result right")) << ran.output.constData();
}

// The installed program on fresh settings loads its interface from itself, runs with the
// installed library (found from its own folder, with no library path set), and nothing in the
// interface warns.
TEST_F(Install, TheInstalledProgramRunsOnTheInstalledLibrary)
{
    QTemporaryDir config;
    QTemporaryDir home;
    ASSERT_TRUE(config.isValid() && home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("HOME", home.path());
    env.remove("LD_LIBRARY_PATH");

    StartedProgram program(installed(QStringLiteral(INSTALL_BINDIR) + "/velotrim"), env);
    program.watchAfterLoad();
    ASSERT_TRUE(program.loaded()) << "the interface never finished loading:\n" << program.output().constData();
    ASSERT_TRUE(program.running()) << "exit code " << program.exitCode() << "\n" << program.output().constData();

    QFile maps(QString("/proc/%1/maps").arg(program.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    QStringList libraryFolders;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        if (line.contains("libtessella.so"))
            libraryFolders.append(QFileInfo(QString::fromUtf8(line.mid(line.indexOf('/')))).absolutePath());
    }
    EXPECT_EQ(sortedUnique(libraryFolders), QStringList{installed(INSTALL_LIBDIR)});

    const QStringList found = program.qmlWarnings();
    EXPECT_TRUE(found.isEmpty()) << found.join('\n').toStdString();
}
