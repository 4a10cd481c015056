// The interface's files: the dialogs that choose them, what is saved and read through them, and
// the file URLs handed to the dialogs.
#include "support/InterfaceFixture.h"
#include "support/ModelColorimeter.h"
#include "support/QtPrinters.h"
#include "support/FileSizeLimit.h"
#include "support/ScopedTempFolder.h"

#include "display/SimulatedDisplay.h"
#include "shell/CalibrationFile.h"
#include "shell/Velotrimmer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

using Interface = InterfaceFixture;

// ---- File dialogs ----------------------------------------------------------------------------------

struct DialogCase
{
    const char* name;
    const char* item;
    bool save;
    const char* proposedStart; // "" for no proposed name
    const char* extension;
};

void PrintTo(const DialogCase& c, std::ostream* os)
{
    *os << c.name;
}

class FileDialogs : public Interface, public ::testing::WithParamInterface<DialogCase>
{
};

// A fresh account, whose documents folder does not exist yet: each dialog starts in that folder,
// made for it, and a save dialog saves, asks before replacing and names its filter's extension.
TEST_P(FileDialogs, StartInAFolderThatExistsOnAFreshAccount)
{
    const DialogCase& c = GetParam();
    ScopedTempFolder home("HOME");
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_FALSE(QFileInfo::exists(documents));
    loadBench();
    Velotrimmer& velotrimmer = controller();
    // A correction in hand, named as a run names it, in the folder kept for results.
    velotrimmer.setFilename(velotrimmer.filepath() + "KestraCal-2026-01-01T10-00-00.tsv");
    velotrimmer.setCalibrationAvailable(true);

    clickMenuItem(c.item);
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(QFileInfo(documents).isDir());
    EXPECT_EQ(QDir(dialog->directory()), QDir(documents));
    EXPECT_EQ(dialog->acceptMode(), c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    const QString name = proposedName(dialog);
    if (QString(c.proposedStart).isEmpty()) {
        EXPECT_TRUE(name.isEmpty()) << name.toStdString();
    } else {
        EXPECT_TRUE(name.startsWith(c.proposedStart)) << name.toStdString();
        EXPECT_TRUE(name.endsWith(QString(".") + c.extension)) << name.toStdString();
    }
    if (c.save) {
        QPushButton* accept = acceptButton(dialog);
        EXPECT_EQ(accept ? accept->text().remove('&') : QString(), "Save");
        EXPECT_EQ(dialog->defaultSuffix(), c.extension);
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    }
    dialog->reject();
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, FileDialogs,
    ::testing::Values(DialogCase{"SaveLog", "saveLogItem", true, "VelotrimLog-", "txt"},
                      DialogCase{"SaveCorrection", "saveCorrectionItem", true, "KestraCal-2026-01-01T10-00-00", "tsv"},
                      DialogCase{"OpenCorrection", "openItem", false, "KestraCal-2026-01-01T10-00-00", "tsv"}),
    [](const ::testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.name); });

// A folder kept from before (a save that failed there, a folder removed since) that is none of the
// operator's: the dialog starts in the documents folder instead. Shown /proc, Qt's dialog would
// read /proc/kmsg to tell its type and wait there for good.
struct KeptFolderCase
{
    const char* name;
    const char* kept;   // the folder kept under "filepath"; a relative one lies in a fresh folder
    const char* item;   // the menu row that opens the dialog
};

void PrintTo(const KeptFolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class KeptFolders : public Interface, public ::testing::WithParamInterface<KeptFolderCase>
{
};

TEST_P(KeptFolders, ThatAreNoOrdinaryFolderGiveWayToTheDocumentsFolder)
{
    const KeptFolderCase& c = GetParam();
    ScopedTempFolder home("HOME");
    QTemporaryDir elsewhere;
    QFile aFile(elsewhere.filePath("a-file"));
    ASSERT_TRUE(aFile.open(QIODevice::WriteOnly));
    aFile.close();
    const QString kept = QString(c.kept).startsWith('/') ? QString(c.kept) : elsewhere.filePath(c.kept);
    QSettings().setValue("filepath", kept);
    loadBench();
    Velotrimmer& velotrimmer = controller();
    ASSERT_EQ(velotrimmer.filepath(), kept);
    // A correction in hand, named after the kept folder as a run names it.
    velotrimmer.setFilename(kept + "KestraCal-2026-01-01T10-00-00.tsv");
    velotrimmer.setCalibrationAvailable(true);

    clickMenuItem(c.item);
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QDir(dialog->directory()), QDir(documents)) << dialog->directory().path().toStdString();
    EXPECT_FALSE(proposedName(dialog).isEmpty());
    dialog->reject();
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Folders, KeptFolders,
    ::testing::Values(KeptFolderCase{"Proc", "/proc/", "saveLogItem"}, KeptFolderCase{"Sys", "/sys/", "saveLogItem"},
                      KeptFolderCase{"Dev", "/dev/", "saveLogItem"},
                      KeptFolderCase{"ProcForACorrection", "/proc/", "saveCorrectionItem"},
                      KeptFolderCase{"Gone", "gone/", "saveLogItem"},
                      KeptFolderCase{"AFile", "a-file/", "openItem"}),
    [](const ::testing::TestParamInfo<KeptFolderCase>& info) { return std::string(info.param.name); });

// A save that failed keeps the folder kept before: the next dialog starts there again, and the
// reason is in the status line in red and in the log once.
struct FailedSaveCase
{
    const char* name;
    const char* item;
    const char* typed;  // typed into the dialog; a relative name lies in the kept folder
    bool diskFull;      // files may not grow: the write fails as on a full disk
    const char* logged; // the one log line that says why
};

void PrintTo(const FailedSaveCase& c, std::ostream* os)
{
    *os << c.name;
}

class FailedSaves : public Interface, public ::testing::WithParamInterface<FailedSaveCase>
{
};

TEST_P(FailedSaves, KeepTheFolderKeptBeforeAndSayWhyOnce)
{
    const FailedSaveCase& c = GetParam();
    QTemporaryDir folder(QDir::tempPath() + "/kept XXXXXX");
    loadBench();
    Velotrimmer& velotrimmer = controller();
    const QString kept = folder.path() + "/";
    velotrimmer.setFilepath(kept);
    velotrimmer.setFilename(kept + "KestraCal-2026-01-01T10-00-00.tsv");
    velotrimmer.setCalibrationAvailable(true);
    for (int i = 0; i < 200; ++i)
        qInfo("a line for the log %d", i);
    const QString path = QString(c.typed).startsWith('/') ? QString(c.typed) : kept + c.typed;

    clickMenuItem(c.item);
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    m_capture->clear();
    {
        std::optional<FileSizeLimit> full;
        if (c.diskFull)
            full.emplace(16);
        QLineEdit* field = nameField(dialog);
        field->selectAll();
        QTest::keyClicks(field, path);
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() == -1; }, 5000)) << velotrimmer.statusString().toStdString();
    }
    EXPECT_TRUE(velotrimmer.statusString().startsWith("Unable to open file " + path + ": "))
        << velotrimmer.statusString().toStdString();
    EXPECT_FALSE(QFileInfo::exists(path) && QFileInfo(path).size() > 16) << "a file was written";
    EXPECT_EQ(velotrimmer.filepath(), kept);
    EXPECT_EQ(QSettings().value("filepath").toString(), kept);
    const QStringList said = m_capture->messages().filter(path);
    ASSERT_EQ(said.size(), 1) << said.join('\n').toStdString();
    EXPECT_TRUE(said.first().startsWith(c.logged)) << said.first().toStdString();

    clickMenuItem(c.item);
    dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()), QDir(folder.path())) << dialog->directory().path().toStdString();
    dialog->reject();
    QStringList warned = warnings();
    warned.removeIf([&](const QString& warning) { return warning.contains(path); });
    EXPECT_TRUE(warned.isEmpty()) << warned.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Saves, FailedSaves,
    ::testing::Values(FailedSaveCase{"LogIntoProc", "saveLogItem", "/proc/x.txt", false, "Unable to open file"},
                      FailedSaveCase{"CorrectionIntoProc", "saveCorrectionItem", "/proc/x.tsv", false,
                                     "Unable to open file"},
                      FailedSaveCase{"LogOnAFullDisk", "saveLogItem", "full.txt", true, "Unable to write file"}),
    [](const ::testing::TestParamInfo<FailedSaveCase>& info) { return std::string(info.param.name); });

TEST_F(Interface, ALogSavedUnderATypedNameGetsItsExtensionAndIsNotReplacedUnasked)
{
    ScopedTempFolder home("HOME");
    loadBench();
    Velotrimmer& velotrimmer = controller();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString expected = documents + "/evening.txt";

    auto saveAs = [&](const QString& typed) {
        clickMenuItem("saveLogItem");
        QFileDialog* dialog = shownFileDialog();
        EXPECT_NE(dialog, nullptr);
        if (!dialog)
            return static_cast<QFileDialog*>(nullptr);
        QLineEdit* field = nameField(dialog);
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        return dialog;
    };
    QFileDialog* dialog = saveAs("evening");
    ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }, 5000));
    EXPECT_EQ(velotrimmer.statusString(), "Log saved to " + expected);
    EXPECT_EQ(velotrimmer.status(), 1);
    ASSERT_TRUE(QFileInfo(expected).isFile());

    // The same name again: the dialog asks first, and a "No" keeps the file and the dialog.
    QFile kept(expected);
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.write("kept\n");
    kept.close();
    answerWhenAsked("No");
    dialog = saveAs("evening");
    ASSERT_TRUE(waitUntil([&] { return answered(); }, 5000)) << "no question before replacing the file";
    // Answered, the question gives the keyboard back to the dialog, which stays.
    EXPECT_TRUE(waitUntil([&] { return QApplication::activeModalWidget() == dialog; }, 5000));
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept\n");
    dialog->reject();
    expectNoWarnings();
}

TEST_F(Interface, ALinearityCorrectionFromTheMenusIsSavedAndReadBack)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    ModelColorimeter colorimeter(velotrimmer.simulatedDisplay());
    velotrimmer.setColorimeter(&colorimeter);
    velotrimmer.setSteps(3);
    velotrimmer.setReadCount(1);
    velotrimmer.setStepSpacing(1.0);
    QTemporaryDir folder(QDir::tempPath() + "/results XXXXXX");
    velotrimmer.setFilepath(folder.path() + "/");
    EXPECT_FALSE(find("saveCorrectionItem")->property("enabled").toBool());

    clickMenuItem("runItem");
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }, 90000));
    EXPECT_EQ(velotrimmer.status(), 1) << velotrimmer.statusString().toStdString();
    ASSERT_TRUE(waitUntil([&] { return find("saveCorrectionItem")->property("enabled").toBool(); }, 5000));

    // The dialog proposes the result's name in the kept folder; the user takes it.
    const QString path = velotrimmer.filename();
    EXPECT_TRUE(path.startsWith(folder.path() + "/KestraCal-")) << path.toStdString();
    clickMenuItem("saveCorrectionItem");
    QFileDialog* save = shownFileDialog();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(QDir(save->directory()), QDir(folder.path()));
    EXPECT_EQ(save->directory().filePath(proposedName(save)), path);
    QTest::keyClick(nameField(save), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !save->isVisible(); }, 5000));
    ASSERT_TRUE(QFile::exists(path)) << velotrimmer.statusString().toStdString();
    const QList<CalibrationPoint> written = velotrimmer.correctionPoints();

    clickMenuItem("openItem");
    QFileDialog* open = shownFileDialog();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(QDir(open->directory()), QDir(folder.path()));
    EXPECT_EQ(open->directory().filePath(proposedName(open)), path);
    QTest::keyClick(nameField(open), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !open->isVisible(); }, 5000));
    EXPECT_EQ(velotrimmer.filename(), path);
    EXPECT_EQ(velotrimmer.correctionPoints().size(), written.size());
    EXPECT_TRUE(velotrimmer.calibrationAvailable());
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    expectNoWarnings();
}

// ---- File URLs -------------------------------------------------------------------------------------

struct UrlCase
{
    const char* name;
    const char* function;
    const char* path;
    const char* expected;
};

void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << c.name;
}

class FileUrls : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(FileUrls, AreBuiltFromLocalPathsInOnePlace)
{
    const UrlCase& c = GetParam();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport \"qrc:/src/ui/FileUrls.js\" as F\n"
                      "QtObject { function call(name, path) {\n"
                      "  return name === \"withExtension\" ? F.withExtension(path, \"Values (*.tsv *.txt)\")\n"
                      "       : F[name](path, \"/home/op/Documents/\", \"Text files (*.txt)\") } }",
                      QUrl("qrc:/test/FileUrlsTest.qml"));
    std::unique_ptr<QObject> object(component.create());
    ASSERT_NE(object, nullptr) << component.errorString().toStdString();
    QVariant result;
    QMetaObject::invokeMethod(object.get(), "call", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, c.function),
                              Q_ARG(QVariant, c.path));
    EXPECT_EQ(result.toString(), c.expected);
    if (QString(c.expected).startsWith("file:")) {
        EXPECT_TRUE(QUrl(result.toString()).isLocalFile());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileUrls,
    ::testing::Values(
        UrlCase{"UnixPath", "fromLocalPath", "/home/op/run.tsv", "file:///home/op/run.tsv"},
        UrlCase{"PathWithSpace", "fromLocalPath", "/home/op/my logs/a.txt", "file:///home/op/my%20logs/a.txt"},
        UrlCase{"DrivePath", "fromLocalPath", "C:/Users/op/", "file:///C:/Users/op/"},
        UrlCase{"EmptyPath", "fromLocalPath", "", ""},
        UrlCase{"NameOfAPath", "fileNameOf", "/home/op/x/run.tsv", "run.tsv"},
        UrlCase{"ExtensionAdded", "withExtension", "KestraCal-1", "KestraCal-1.tsv"},
        UrlCase{"ExtensionKept", "withExtension", "run.TXT", "run.TXT"},
        UrlCase{"OtherExtensionExtended", "withExtension", "run.csv", "run.csv.tsv"},
        UrlCase{"LogProposedInTheFolderWithItsExtension", "proposal", "/gone/VelotrimLog-1",
                "file:///home/op/Documents/VelotrimLog-1.txt"},
        UrlCase{"NoNameNoProposal", "proposal", "", ""}),
    [](const ::testing::TestParamInfo<UrlCase>& info) { return std::string(info.param.name); });
