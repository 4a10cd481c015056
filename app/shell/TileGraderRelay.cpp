#include "shell/TileGraderRelay.h"

#include "engine/TileGrader.h"

TileGraderRelay::TileGraderRelay(QObject* parent)
    : QObject(parent)
{
}

void TileGraderRelay::follow(TileGrader& grader)
{
    m_hasMeshLocations = grader.hasMeshLocations();
    // Read on the grader's thread, where the value changes, then handed over by value.
    connect(&grader, &TileGrader::hasMeshLocationsChanged, &grader, [this, &grader] {
        const bool has = grader.hasMeshLocations();
        QMetaObject::invokeMethod(this, [this, has] { setHasMeshLocations(has); }, Qt::QueuedConnection);
    });
    connect(&grader, &TileGrader::screenImageUpdated, this, &TileGraderRelay::setScreenImage, Qt::QueuedConnection);
}

void TileGraderRelay::setHasMeshLocations(bool hasMeshLocations)
{
    if (hasMeshLocations == m_hasMeshLocations)
        return;
    m_hasMeshLocations = hasMeshLocations;
    emit hasMeshLocationsChanged();
}

void TileGraderRelay::setScreenImage(const QImage& image)
{
    m_screenImage = image;
    emit screenImageUpdated();
}
