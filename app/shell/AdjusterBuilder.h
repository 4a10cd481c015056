#pragma once

#include "shell/AdjusterSet.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <optional>

class DisplayBase;
struct Tile;

// Builds the adjusters of a balance or template run into an AdjusterSet, and releases them, without
// holding up the thread it runs on: a slice at a time, each at most SliceBudget long, with the
// event loop running between slices. A wall holds up to hundreds of thousands of mesh cells, and
// their adjusters take far longer to make or to delete than one turn of the interface's event
// loop may take.
//
// A balance build makes one adjuster per adjustable LDM of the display, each with a copy of its
// LDM (the first one loggable); a template build makes, for every adjustable tile, a copy of the
// tile and one adjuster per cell of a regular mesh over it, numbered from 1 across all tiles.
// Every adjuster is configured with the run's settings as it is made.
//
// The display must not change its layout while a build is in progress; the controller builds
// only while it is running, when nothing does.
class AdjusterBuilder : public QObject
{
    Q_OBJECT
public:
    // Longest time one slice may take.
    static constexpr std::chrono::milliseconds SliceBudget{8};

    // A template build's mesh: cells across and down every tile.
    struct Mesh
    {
        uint across = 20;
        uint down = 20;
    };

    explicit AdjusterBuilder(QObject* parent = nullptr);

    // Empties set and starts building into it. A template build whose mesh does not fit a tile's
    // LDM grid is refused before anything is built: the reason comes back, for the status line.
    // set and display must outlive the build.
    void startBalance(AdjusterSet& set, DisplayBase& display, const AdjusterSettings& settings);
    std::optional<QString> startTemplate(AdjusterSet& set, DisplayBase& display, const AdjusterSettings& settings,
                                         const Mesh& mesh);
    // What the adjusters of the last build were configured with.
    const AdjusterSettings& settings() const { return m_settings; }
    // Ends a build in progress; what it made stays in the set.
    void cancel();
    // Empties set at once; what it held is deleted a slice at a time (before any build goes on).
    void release(AdjusterSet& set);
    // Deletes at once whatever is still waiting to be (at shut-down).
    void releaseNow();
    // Hands the pages that released adjusters occupied back to the system. glibc keeps freed
    // memory in its arenas (the calibrator thread's among them, where the adjusters' points grew)
    // until asked; other allocators return it on their own. It takes a while on a wall's worth,
    // so the controller calls it on the calibrator's thread once released has come.
    static void returnFreedPages();

    bool isBuilding() const { return m_building; }
    bool isReleasing() const { return !m_releasing.empty(); }
    // Adjusters made so far, and when the build is done.
    qsizetype built() const { return m_built; }
    qsizetype total() const { return m_total; }
    // What is built: "LDMs" or "macropixels".
    QString items() const;

signals:
    // After every slice but the last.
    void progressed(qsizetype built, qsizetype total);
    // Once every adjuster has been made (not after cancel, and not for a build of nothing, which
    // is complete when its start returns).
    void finished();
    // Once the last object given to release has been deleted.
    void released();

private:
    enum class Kind { Balance, Template };

    void start(Kind kind, AdjusterSet& set, DisplayBase& display, const AdjusterSettings& settings, qsizetype total);
    void workSlice();
    void logBuilt() const;
    // Makes the next adjuster and its record.
    void buildOne();
    void buildCell();

    QTimer m_slices;
    std::deque<AdjusterSet::Owned> m_releasing;
    bool m_building = false;
    Kind m_kind = Kind::Balance;
    AdjusterSet* m_set = nullptr;
    DisplayBase* m_display = nullptr;
    AdjusterSettings m_settings;
    Mesh m_mesh;
    qsizetype m_total = 0;
    qsizetype m_built = 0;
    // Template builds: the tile copy being filled and the next cell's index in it.
    Tile* m_tile = nullptr;
    uint m_tileIndex = 0;
    uint m_cellInTile = 0;
};
