#include "shell/AdjusterBuilder.h"

#include "display/DisplayBase.h"
#include "engine/Calibrator.h"

#include <QDebug>
#include <QElapsedTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

AdjusterBuilder::AdjusterBuilder(QObject* parent)
    : QObject(parent)
{
    m_slices.setSingleShot(true);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &AdjusterBuilder::workSlice);
}

void AdjusterBuilder::returnFreedPages()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void AdjusterBuilder::startBalance(AdjusterSet& set, DisplayBase& display, const AdjusterSettings& settings)
{
    start(Kind::Balance, set, display, settings, display.adjustableLdmCount());
}

std::optional<QString> AdjusterBuilder::startTemplate(AdjusterSet& set, DisplayBase& display,
                                                      const AdjusterSettings& settings, const Mesh& mesh)
{
    cancel();
    const uint tiles = display.adjustableTileCount();
    for (uint k = 1; k <= tiles; ++k) {
        const Tile& tile = display.adjustableTile(k);
        // A tile without an LDM grid cannot be divided into cells that fit its LDMs.
        if (tile.ldmColumns == 0 || tile.ldmRows == 0)
            return tr("Tile %1 has no LDM grid (%2, %3), so it cannot be divided into cells")
                .arg(tile.name)
                .arg(tile.ldmColumns)
                .arg(tile.ldmRows);
        if (mesh.across % tile.ldmColumns != 0 || mesh.down % tile.ldmRows != 0)
            return tr("Tile %1 cell size (%2, %3) not divisible by LDM size (%4, %5)")
                .arg(tile.name)
                .arg(mesh.across)
                .arg(mesh.down)
                .arg(tile.ldmColumns)
                .arg(tile.ldmRows);
    }
    m_mesh = mesh;
    start(Kind::Template, set, display, settings, qsizetype(tiles) * mesh.across * mesh.down);
    return std::nullopt;
}

void AdjusterBuilder::start(Kind kind, AdjusterSet& set, DisplayBase& display, const AdjusterSettings& settings,
                            qsizetype total)
{
    cancel();
    release(set);
    m_kind = kind;
    m_set = &set;
    m_display = &display;
    m_settings = settings;
    m_total = total;
    m_built = 0;
    m_tile = nullptr;
    m_tileIndex = 0;
    m_cellInTile = 0;
    if (kind == Kind::Balance)
        set.reserve(total);
    else
        set.reserve(total, display.adjustableTileCount());
    // Nothing to build: done at once, without a slice (and without finished).
    if (total == 0) {
        logBuilt();
        return;
    }
    m_building = true;
    m_slices.start();
}

void AdjusterBuilder::cancel()
{
    m_building = false;
}

void AdjusterBuilder::release(AdjusterSet& set)
{
    AdjusterSet::Owned owned = set.take();
    if (owned.adjusters.empty() && owned.records.empty() && owned.tiles.empty())
        return;
    m_releasing.push_back(std::move(owned));
    m_slices.start();
}

void AdjusterBuilder::releaseNow()
{
    if (m_releasing.empty())
        return;
    m_releasing.clear();
    emit released();
}

QString AdjusterBuilder::items() const
{
    return m_kind == Kind::Template ? QStringLiteral("macropixels") : QStringLiteral("LDMs");
}

void AdjusterBuilder::workSlice()
{
    QElapsedTimer slice;
    slice.start();
    const auto timeLeft = [&slice] { return slice.elapsed() < SliceBudget.count(); };
    const bool wasReleasing = !m_releasing.empty();
    while (!m_releasing.empty() && timeLeft()) {
        if (!m_releasing.front().releaseOne())
            m_releasing.pop_front();
    }
    // A build goes on once what went before it has gone.
    if (m_releasing.empty()) {
        while (m_building && m_built < m_total && timeLeft())
            buildOne();
    }
    const bool buildLeft = m_building && m_built < m_total;
    if (!m_releasing.empty() || buildLeft)
        m_slices.start();
    if (wasReleasing && m_releasing.empty())
        emit released();
    if (buildLeft) {
        emit progressed(m_built, m_total);
    } else if (m_building) {
        m_building = false;
        logBuilt();
        emit finished();
    }
}

void AdjusterBuilder::logBuilt() const
{
    if (m_kind == Kind::Balance)
        qInfo("buildBalancers: %lld balancers,  %lld ldms", static_cast<long long>(m_set->adjusters().size()),
              static_cast<long long>(m_set->macropixels().size()));
    else
        qInfo("buildTemplaters: %lld balancers,  %lld tiles,  %lld macropixels",
              static_cast<long long>(m_set->adjusters().size()), static_cast<long long>(m_set->tiles().size()),
              static_cast<long long>(m_set->macropixels().size()));
}

void AdjusterBuilder::buildOne()
{
    if (m_kind == Kind::Template) {
        buildCell();
        return;
    }
    const auto index = uint(m_built + 1);
    auto record = std::make_unique<Macropixel>(m_display->adjustableLdm(index));
    auto adjuster = std::make_unique<Calibrator>(Calibrator::BalanceMode, record->number);
    if (index == 1)
        adjuster->setLoggable(true);
    m_settings.applyTo(*adjuster);
    m_set->append(std::move(adjuster), std::move(record));
    ++m_built;
}

void AdjusterBuilder::buildCell()
{
    if (!m_tile || m_cellInTile == m_mesh.across * m_mesh.down) {
        m_tile = m_set->appendTile(std::make_unique<Tile>(m_display->adjustableTile(++m_tileIndex)));
        m_cellInTile = 0;
    }
    const uint j = m_cellInTile++;
    const auto cellNumber = quint32(m_built + 1);
    const float cellWidth = m_tile->width / static_cast<float>(m_mesh.across);
    const float cellHeight = m_tile->height / static_cast<float>(m_mesh.down);
    auto cell = std::make_unique<Macropixel>();
    cell->number = cellNumber;
    cell->x = static_cast<float>(j % m_mesh.across) * cellWidth + m_tile->x;
    cell->y = static_cast<float>(j / m_mesh.across) * cellHeight + m_tile->y;
    cell->width = cellWidth;
    cell->height = cellHeight;
    const Macropixel* holder = m_display->findLdm(m_tile->number, static_cast<int>(cell->x), static_cast<int>(cell->y));
    cell->indexInTile = holder ? holder->number : 0;
    cell->name = m_tile->name;
    cell->tileNumber = m_tile->number;
    cell->adjustable = true;
    m_tile->ldms.append(cell.get());
    auto adjuster = std::make_unique<Calibrator>(Calibrator::TemplateMode, cellNumber);
    adjuster->setMinPointsToFinish(m_settings.compliantIterations);
    adjuster->setMinIterationsAdjusters(m_settings.minIterations);
    adjuster->setMaxIterationsAdjusters(m_settings.maxIterations);
    m_settings.applyTo(*adjuster);
    m_set->append(std::move(adjuster), std::move(cell));
    ++m_built;
}
