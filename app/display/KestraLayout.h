#pragma once

#include "common/ErrorType.h"
#include "display/Macropixel.h"
#include "display/Tile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

// The wall model that the processor reports: one tile per receiver of "dev" . "receivers" and
// one LDM per member of a receiver's "ldms", laid out row by row from the tile's corner, and
// whether a fixture type in use supports mesh uniformity ("sys" . "fixtures").
//
// Built aside from the display's own model, so that a reply that cannot be read leaves the
// display's wall as it was. Records are left unnumbered (number 0): the display numbers them in
// order when it takes them over; each LDM's tileNumber is the number its tile will receive.
class KestraLayout
{
public:
    // Reads the reply of the layout request. Fails (kind 1) when the reply is not a JSON object
    // (an empty body, an array), naming what came back: that is no layout, not an empty one. An
    // object without "dev" or "receivers" is a wall without tiles. Fails (kind 2, "type %1
    // missing") when a receiver's fixture type has no description. Receivers and LDMs that cannot
    // be placed (no LDM columns or rows, an LDM name that is not a number inside the tile) are
    // logged and skipped.
    static KestraLayout read(const QJsonDocument& reply);

    ErrorType error; // kind 0 when the layout could be read
    QList<Tile> tiles;
    QList<Macropixel> ldms;
    bool supportsMesh = false;

private:
    void readObject(const QJsonObject& reply);
    void addReceiver(const QString& mac, const QJsonObject& receiver);
    void addLdms(const QString& mac, const Tile& tile, const QJsonObject& ldmMembers);
};
