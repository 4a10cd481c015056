#include "engine/Calibrator.h"

// The balance and template runs: adjusters that correct single LDMs or tiles from the camera's
// observations. This version refuses to start them.

void Calibrator::refuseUnavailableRun(const char* runWord)
{
    const QString status = QStringLiteral("Calibrator: %1 runs are not available in this version").arg(QLatin1String(runWord));
    qDebug("%s", qUtf8Printable(status));
    setStatusString(status);
    endRun();
    emit done(m_number, false);
}

void Calibrator::finishBalancing()
{
    m_finishRequested = true;
}

void Calibrator::macropixelsObserved(const QList<Macropixel*>& newMacropixels)
{
    if (m_mode != BalanceMode || newMacropixels.isEmpty())
        return;
    setMacropixels(newMacropixels);
    m_readingReady = true;
}

void Calibrator::tilesObserved(const QList<Tile*>& newTiles)
{
    if (m_mode != TemplateMode || newTiles.isEmpty())
        return;
    setTiles(newTiles);
    m_readingReady = true;
}
