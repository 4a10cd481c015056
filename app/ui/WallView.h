#pragma once

#include "display/DisplayBase.h"
#include "ui/WallNode.h"

#include <QPointer>
#include <QQuickItem>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

// The wall drawn at a scale: every LDM (balance) or every tile (template) of a display at its wall
// position, filled in the colours of the chosen view ("Images": the observed colour, "Gains", or
// "Errors" against the balance target) and framed by whether it is adjustable, lit or dark.
//
// The item reads the wall model on the GUI thread, once per frame at most and the whole wall in
// one call: the display's announcements only mark what is out of date (its layout, or just its
// data), and the next frame's polish reads it. A new layout places the records again and rebuilds
// the index behind the hit tests; new data only recolours them. An item that is not visible reads
// nothing and catches up when shown.
class WallView : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(DisplayBase* display READ display WRITE setDisplay NOTIFY displayChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(bool tileMode READ tileMode WRITE setTileMode NOTIFY tileModeChanged)
    Q_PROPERTY(QString showMode READ showMode WRITE setShowMode NOTIFY showModeChanged)
    Q_PROPERTY(double targetRed READ targetRed WRITE setTargetRed NOTIFY targetChanged)
    Q_PROPERTY(double targetGreen READ targetGreen WRITE setTargetGreen NOTIFY targetChanged)
    Q_PROPERTY(double targetBlue READ targetBlue WRITE setTargetBlue NOTIFY targetChanged)
    // The wall as last read: its extent (the display's, in wall pixels) and its number of records.
    Q_PROPERTY(int originX READ originX NOTIFY wallChanged)
    Q_PROPERTY(int originY READ originY NOTIFY wallChanged)
    Q_PROPERTY(int wallWidth READ wallWidth NOTIFY wallChanged)
    Q_PROPERTY(int wallHeight READ wallHeight NOTIFY wallChanged)
    Q_PROPERTY(int itemCount READ itemCount NOTIFY layoutChanged)
    // Counts the layouts read, for bindings that place something over a record.
    Q_PROPERTY(int layoutRevision READ layoutRevision NOTIFY layoutChanged)

public:
    // Colours of the view.
    static constexpr QRgb DarkFill = 0xff101010;
    static constexpr QRgb AdjustableFrame = 0xffffffff;
    static constexpr QRgb LitLdmFrame = 0xff707070;
    static constexpr QRgb DarkLdmFrame = 0xff282828;
    static constexpr QRgb LitTileFill = 0xff505050;
    static constexpr QRgb DarkTileFill = 0xff181818;
    static constexpr QRgb LitTileFrame = 0xff808080;
    static constexpr QRgb DarkTileFrame = 0xff303030;

    explicit WallView(QQuickItem* parent = nullptr);

    DisplayBase* display() const { return m_display; }
    void setDisplay(DisplayBase* display);
    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    bool tileMode() const { return m_tileMode; }
    void setTileMode(bool tileMode);
    QString showMode() const;
    void setShowMode(const QString& showMode);
    double targetRed() const { return m_target[0]; }
    void setTargetRed(double red) { setTarget(0, red); }
    double targetGreen() const { return m_target[1]; }
    void setTargetGreen(double green) { setTarget(1, green); }
    double targetBlue() const { return m_target[2]; }
    void setTargetBlue(double blue) { setTarget(2, blue); }

    int originX() const { return m_extent.left(); }
    int originY() const { return m_extent.top(); }
    int wallWidth() const { return m_extent.width(); }
    int wallHeight() const { return m_extent.height(); }
    int itemCount() const { return m_layout ? m_layout->size() : 0; }
    int layoutRevision() const { return m_layoutRevision; }

    // The number of the LDM or tile under a point of the item, or 0.
    Q_INVOKABLE int itemAt(double x, double y);
    // The area of an LDM or tile in the item as drawn (in the layout last read, so that a binding
    // follows it through layoutChanged); empty for a number not on the wall.
    Q_INVOKABLE QRectF itemRect(int number) const;
    // The wall pixels a drag between two points of the item covers, outward to whole pixels.
    Q_INVOKABLE QRect wallRect(double x1, double y1, double x2, double y2);
    // Answers the dummy camera: writes the readings of every lit LDM, then redraws.
    Q_INVOKABLE void writeFakeReadings(double variation);

signals:
    void displayChanged();
    void zoomChanged();
    void tileModeChanged();
    void showModeChanged();
    void targetChanged();
    void wallChanged();
    void layoutChanged();

protected:
    void updatePolish() override;
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    enum Show { Images, Gains, Errors };
    enum Stale : unsigned { Nothing = 0, Shades = 1, Layout = 2 };

    void setTarget(int channel, double value);
    // Marks what is out of date; a visible item reads it at its next polish.
    void invalidate(unsigned stale);
    // Reads what is out of date from the display, the whole wall in one pass.
    void read();
    // Reads a layout that is out of date now, for an answer about the wall's geometry.
    void catchUp();
    WallShade ldmShade(const Macropixel& ldm) const;
    static WallShade tileShade(const Tile& tile);
    WallPicture picture() const;

    QPointer<DisplayBase> m_display;
    double m_zoom = 1.0;
    bool m_tileMode = false;
    Show m_show = Images;
    double m_target[3] = {0.0, 0.0, 0.0};

    unsigned m_stale = Layout | Shades;
    QRect m_extent{0, 0, 1, 1};
    std::shared_ptr<const WallIndex> m_layout;
    std::shared_ptr<const std::vector<WallShade>> m_shades;
    int m_layoutRevision = 0;
};
