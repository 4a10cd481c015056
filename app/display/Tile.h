#pragma once

#include "display/Macropixel.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One LED tile, driven by one receiver of the processor. Geometry in wall pixels, numbers
// 1-based (0: not numbered yet). A tile is built field by field by its creator.
struct Tile
{
    quint32 number = 0;
    QString name; // MAC address of the receiver
    float x = 0.0f;
    float y = 0.0f;
    float height = 100.0f;
    float width = 100.0f;
    bool selected = true;   // touched by the current selection rectangle
    bool adjustable = true; // taking part in the next correction
    bool lit = true;        // shown
    quint32 ldmColumns = 0;
    quint32 ldmRows = 0;
    // The tile's LDM records, not owned. Only the owner of those records fills it (a controller's
    // template); a display's own tiles leave it empty.
    QList<Macropixel*> ldms;
    // Carried with the record; the template cycle marks a tile whose LDM gains changed.
    bool extraFlag = false;
};

Q_DECLARE_METATYPE(Tile*)
