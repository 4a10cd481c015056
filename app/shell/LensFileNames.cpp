#include "shell/LensFileNames.h"

#include <QStringList>

namespace {

const QChar PartSeparator = QLatin1Char('_');
const QChar FocalMark = QLatin1Char('@');
// Numbers in the names carry up to this many leading zeros.
constexpr int LeadingZeros = 3;

} // namespace

QString LensFileNames::lensKey(const QString& fileName, const QString& cameraName)
{
    const QStringList parts = fileName.split(PartSeparator, Qt::KeepEmptyParts);
    if (parts.size() < 2 || parts.first() != cameraName)
        return QString();
    QStringList lens;
    for (qsizetype i = 1; i < parts.size() && !parts.at(i).startsWith(FocalMark); ++i)
        lens.append(parts.at(i));
    return lens.join(PartSeparator);
}

QString LensFileNames::focalLabel(const QString& fileName)
{
    const qsizetype mark = fileName.lastIndexOf(FocalMark);
    return displayForm(mark > 0 ? fileName.mid(mark) : fileName);
}

QString LensFileNames::displayForm(QString text)
{
    const qsizetype extension = text.lastIndexOf(QLatin1String(".jp"));
    if (extension > 0)
        text.truncate(extension);
    text.replace(PartSeparator, QLatin1Char(' '));
    text.replace(QLatin1Char('^'), QLatin1Char('/'));
    for (const char* mark : {"/", "-", "@"}) {
        const QString withZero = QLatin1String(mark) + QLatin1Char('0');
        for (int i = 0; i < LeadingZeros; ++i)
            text.replace(withZero, QLatin1String(mark));
    }
    if (text.contains(FocalMark)) {
        if (text.contains(QLatin1String(" [")))
            text.replace(QLatin1String(" ["), QLatin1String("mm ["));
        else
            text.append(QLatin1String("mm"));
    }
    return text;
}
