#include "display/KestraLayout.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QSet>

namespace {

// Only the first receivers are described in the log; a large wall would flood it.
constexpr qsizetype kLoggedReceivers = 3;

QJsonObject objectAt(const QJsonObject& parent, const char* key)
{
    return parent.value(QLatin1String(key)).toObject();
}

int intAt(const QJsonObject& parent, const char* key)
{
    return parent.value(QLatin1String(key)).toInt();
}

double gain(const QJsonObject& gains, const char* key)
{
    return gains.value(QLatin1String(key)).toDouble();
}

} // namespace

KestraLayout KestraLayout::read(const QJsonDocument& reply)
{
    KestraLayout layout;
    if (reply.isObject()) {
        layout.readObject(reply.object());
    } else {
        const QString what = reply.isArray() ? QCoreApplication::translate("Kestra", "a JSON array")
                                             : QCoreApplication::translate("Kestra", "empty");
        layout.error = ErrorType::failure(
            ErrorType::Retryable,
            QCoreApplication::translate("Kestra", "The processor's layout reply is %1, not a JSON object").arg(what));
    }
    return layout;
}

void KestraLayout::readObject(const QJsonObject& reply)
{
    const QJsonObject receivers = objectAt(objectAt(reply, "dev"), "receivers");
    qDebug("KESTRA has %lld receivers", qlonglong(receivers.size()));

    QSet<QString> types;
    for (auto it = receivers.constBegin(); it != receivers.constEnd(); ++it) {
        const QJsonObject receiver = it.value().toObject();
        types.insert(objectAt(receiver, "info").value(QLatin1String("type")).toString());
        addReceiver(it.key(), receiver);
    }

    const QJsonObject fixtures = objectAt(objectAt(reply, "sys"), "fixtures");
    for (const QString& type : std::as_const(types)) {
        const QJsonValue fixture = fixtures.value(type);
        if (!fixture.isObject() || fixture.toObject().isEmpty()) {
            error = ErrorType::failure(ErrorType::Fatal, QCoreApplication::translate("Kestra", "type %1 missing").arg(type));
            return;
        }
        if (objectAt(objectAt(fixture.toObject(), "cal"), "uniformity").value(QLatin1String("mesh")).toBool()) {
            qDebug("Fixture %s supports mesh uniformity", qUtf8Printable(type));
            supportsMesh = true;
        }
    }
}

void KestraLayout::addReceiver(const QString& mac, const QJsonObject& receiver)
{
    const QJsonObject info = objectAt(receiver, "info");
    const int x = intAt(receiver, "x");
    const int y = intAt(receiver, "y");
    const int pixelsW = intAt(info, "pixelsW");
    const int pixelsH = intAt(info, "pixelsH");
    const int ldmsW = intAt(info, "ldmsW");
    const int ldmsH = intAt(info, "ldmsH");
    const QJsonObject ldmMembers = objectAt(receiver, "ldms");
    if (tiles.size() < kLoggedReceivers)
        qDebug("MAC %s: @%d,%d, %dx%d pixels, %lld %dx%d ldms", qUtf8Printable(mac), x, y, pixelsW, pixelsH,
               qlonglong(ldmMembers.size()), ldmsW, ldmsH);

    Tile tile;
    tile.name = mac;
    tile.x = float(x);
    tile.y = float(y);
    tile.height = float(pixelsH);
    tile.width = float(pixelsW);
    tile.ldmColumns = quint32(std::max(ldmsW, 0));
    tile.ldmRows = quint32(std::max(ldmsH, 0));
    tiles.append(tile);
    tile.number = quint32(tiles.size()); // the number the display will give it

    // No LDM size can be worked out: the tile stays, its LDMs are left out.
    if (ldmsW <= 0 || ldmsH <= 0) {
        qWarning("KESTRA: receiver %s reports %dx%d LDMs; its %lld LDMs are left out", qUtf8Printable(mac), ldmsW,
                 ldmsH, qlonglong(ldmMembers.size()));
        return;
    }
    addLdms(mac, tile, ldmMembers);
}

void KestraLayout::addLdms(const QString& mac, const Tile& tile, const QJsonObject& ldmMembers)
{
    // In 64 bits: a tile may report more LDMs than an int can count.
    const qint64 columns = tile.ldmColumns;
    const qint64 ldmsInTile = columns * tile.ldmRows;
    const qint64 width = qint64(tile.width) / columns;
    const qint64 height = qint64(tile.height) / tile.ldmRows;

    // In the order of the names as text: "1", "10", "2".
    for (auto it = ldmMembers.constBegin(); it != ldmMembers.constEnd(); ++it) {
        bool isNumber = false;
        const qint64 n = it.key().toLongLong(&isNumber);
        if (!isNumber || n < 1 || n > ldmsInTile) {
            qWarning("KESTRA: receiver %s: LDM \"%s\" is not a number from 1 to %lld; left out", qUtf8Printable(mac),
                     qUtf8Printable(it.key()), ldmsInTile);
            continue;
        }
        const qint64 k = n - 1;
        Macropixel ldm(0, float((k % columns) * width) + tile.x, float((k / columns) * height) + tile.y, float(width),
                       float(height));
        ldm.name = mac;
        ldm.indexInTile = quint32(n);
        ldm.tileNumber = tile.number;
        const QJsonObject gains = objectAt(it.value().toObject(), "gains");
        ldm.redGain = gain(gains, "r");
        ldm.greenGain = gain(gains, "g");
        ldm.blueGain = gain(gains, "b");
        ldm.intensityGain = gain(gains, "i");
        ldm.lit = ldm.isOn();
        ldms.append(std::move(ldm));
    }
}
