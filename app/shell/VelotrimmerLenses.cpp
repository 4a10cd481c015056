// The lens compensation images offered for the connected camera: the lens names found for its
// body and the focal lengths of the chosen lens.
#include "shell/Velotrimmer.h"

#include "shell/LensFileNames.h"
#include "shell/SettingKeys.h"

#include <QDebug>
#include <QDir>
#include <QSettings>

#include <utility>

namespace {

const QString LensResourceFolder = QStringLiteral(":src/lenscomp");
const QString LensImagePattern = QStringLiteral("*.jpg");
// Every lens name option carries this number; a lens file option carries its file's index.
constexpr int LensNameNumber = 1;

} // namespace

void Velotrimmer::getLensFiles()
{
    // The lists do not own their options, and whoever shows them may still read the old ones
    // until it hears the change: the old options go only when this rebuild has been announced.
    const std::unique_ptr<QObject> previous = std::exchange(m_lensOptions, std::make_unique<QObject>());
    m_lensFileList.clear();
    m_lensNameList.clear();

    const QDir folder(LensResourceFolder);
    if (!folder.exists()) {
        qInfo("getLensFiles: Can't open image resource directory!");
        emit lensNameListChanged();
        emit lensFileListChanged();
        restoreLensFile();
        return;
    }
    const QStringList files = folder.entryList({LensImagePattern}, QDir::Files);
    if (m_cameraName.isEmpty()) {
        // No camera: nothing to offer, and the stored choice waits for one.
        emit lensNameListChanged();
        emit lensFileListChanged();
        return;
    }

    for (const QString& file : files) {
        const QString key = LensFileNames::lensKey(file, m_cameraName);
        if (key.isEmpty() || findLensOption(m_lensNameList, key))
            continue;
        m_lensNameList.append(new Option(LensNameNumber, LensFileNames::displayForm(key), key, m_lensOptions.get()));
    }
    emit lensNameListChanged();
    const QString storedLens = QSettings().value(Key::LensName, QString()).toString();
    if (findLensOption(m_lensNameList, storedLens))
        setLensName(storedLens);

    if (!m_lensName.isEmpty()) {
        const QString prefix = QStringLiteral("%1_%2").arg(m_cameraName, m_lensName);
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QString& file = files.at(i);
            if (!file.startsWith(prefix))
                continue;
            m_lensFileList.append(new Option(static_cast<int>(i), LensFileNames::focalLabel(file),
                                             QStringLiteral("%1/%2").arg(LensResourceFolder, file),
                                             m_lensOptions.get()));
        }
    }
    emit lensFileListChanged();
    restoreLensFile();
}

void Velotrimmer::restoreLensFile()
{
    // A stored lens file that is no longer offered is dropped.
    const QString stored = QSettings().value(Key::LensFile, QString()).toString();
    setLensFile(findLensOption(m_lensFileList, stored) ? stored : QString());
}

Option* Velotrimmer::findLensOption(const OptionList& list, const QString& type)
{
    for (qsizetype i = 0; i < list.count(); ++i) {
        if (list.at(i)->type() == type)
            return list.at(i);
    }
    return nullptr;
}
