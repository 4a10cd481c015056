#include "TestDisplay.h"

TestDisplay::TestDisplay(const QString& name, QObject* parent)
    : DisplayBase(name, parent)
{
}

void TestDisplay::buildWall(int tilesAcross, int tilesDown, int ldmsPerSide, int tileSize)
{
    clearOutputConfig();
    const float ldmSize = float(tileSize) / float(ldmsPerSide);
    for (int tileRow = 0; tileRow < tilesDown; ++tileRow) {
        for (int tileColumn = 0; tileColumn < tilesAcross; ++tileColumn) {
            Tile tile;
            tile.x = float(tileColumn * tileSize);
            tile.y = float(tileRow * tileSize);
            tile.width = tile.height = float(tileSize);
            tile.ldmColumns = tile.ldmRows = quint32(ldmsPerSide);
            addTile(tile);
            const quint32 tileNumber = quint32(tileList().size());
            for (int row = 0; row < ldmsPerSide; ++row) {
                for (int column = 0; column < ldmsPerSide; ++column) {
                    Macropixel ldm(0, tile.x + column * ldmSize, tile.y + row * ldmSize, ldmSize, ldmSize);
                    ldm.tileNumber = tileNumber;
                    ldm.indexInTile = quint32(row * ldmsPerSide + column + 1);
                    addLdm(ldm);
                }
            }
        }
    }
    finishOutputConfig();
}

void TestDisplay::buildLdmRow(int ldms, int ldmSize)
{
    clearOutputConfig();
    for (int i = 0; i < ldms; ++i)
        addLdm(Macropixel(0, float(i * ldmSize), 0.0f, float(ldmSize), float(ldmSize)));
    finishOutputConfig();
}
