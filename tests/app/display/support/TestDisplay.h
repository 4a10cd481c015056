#pragma once

#include "display/DisplayBase.h"

// A display on the base behaviour whose wall the test builds: exposes the model-building steps a
// driver uses, and builds regular walls of square tiles.
class TestDisplay : public DisplayBase
{
    Q_OBJECT
public:
    explicit TestDisplay(const QString& name = QStringLiteral("Test Display"), QObject* parent = nullptr);

    ErrorType resetMesh() override { return {}; }
    void cancelPending() override {}

    // Tiles of tileSize x tileSize pixels, tilesAcross x tilesDown from (0, 0), each holding
    // ldmsPerSide x ldmsPerSide LDMs numbered tile by tile, row by row; then finishes the model.
    void buildWall(int tilesAcross, int tilesDown, int ldmsPerSide, int tileSize);
    // A single row of LDMs of the given size from (0, 0) and no tiles; then finishes the model.
    void buildLdmRow(int ldms, int ldmSize);

    using DisplayBase::addLdm;
    using DisplayBase::addTile;
    using DisplayBase::clearOutputConfig;
    using DisplayBase::finishOutputConfig;
    using DisplayBase::ldmList;
    using DisplayBase::tileList;
};
