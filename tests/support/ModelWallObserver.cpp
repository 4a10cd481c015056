#include "ModelWallObserver.h"

#include "engine/Calibrator.h"

#include <algorithm>

namespace {

constexpr double CameraMax = 255.0;

} // namespace

ModelWallObserver::ModelWallObserver(Calibrator* master, QList<Macropixel*> records, QList<Tile*> tiles)
    : m_master(master)
    , m_records(std::move(records))
    , m_tiles(std::move(tiles))
{
    connect(master, &Calibrator::getLdmsObserved, this, [this] { answer(false); }, Qt::QueuedConnection);
    connect(master, &Calibrator::getTilesObserved, this, [this] { answer(true); }, Qt::QueuedConnection);
}

ModelWallObserver::Response ModelWallObserver::variedResponse(quint32 number)
{
    Response response;
    const double shift = double(int(number % 5) - 2) * 6.0; // -12 .. +12
    const double scale = 0.85 + 0.06 * double(number % 4);  // 0.85 .. 1.03
    for (int c = 0; c < 3; ++c) {
        response.offset[c] += shift * (c == 1 ? -1.0 : 1.0);
        response.slope[c] *= scale;
    }
    return response;
}

ModelWallObserver::Triple ModelWallObserver::observe(quint32 number, const Triple& gains) const
{
    return respond(response(number), gains);
}

ModelWallObserver::Triple ModelWallObserver::respond(const Response& r, const Triple& gains)
{
    Triple observed{};
    for (int c = 0; c < 3; ++c) {
        double level = r.offset[c] + r.slope[c] * gains[c];
        for (int k = 0; k < 3; ++k) {
            if (k != c)
                level += r.crosstalk * r.slope[k] * gains[k];
        }
        observed[c] = std::clamp(level, 0.0, CameraMax);
    }
    return observed;
}

ModelWallObserver::Triple ModelWallObserver::idealGains(quint32 number, const Triple& targets) const
{
    // Solves the 3x3 linear response by Cramer's rule.
    const Response r = response(number);
    double m[3][3];
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            m[c][k] = (c == k ? 1.0 : r.crosstalk) * r.slope[k];
    const Triple b{targets[0] - r.offset[0], targets[1] - r.offset[1], targets[2] - r.offset[2]};
    const auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
               + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    Triple x{};
    for (int k = 0; k < 3; ++k) {
        double mk[3][3];
        for (int c = 0; c < 3; ++c)
            for (int j = 0; j < 3; ++j)
                mk[c][j] = j == k ? b[c] : m[c][j];
        x[k] = det(mk) / d;
    }
    return x;
}

void ModelWallObserver::answerFrom(int request, Answer answer)
{
    m_scriptedFrom = request;
    m_scripted = answer;
}

void ModelWallObserver::answer(bool tiles)
{
    const int request = ++m_requests;
    if (m_hook)
        m_hook(request);
    const Answer how = m_scriptedFrom > 0 && request >= m_scriptedFrom ? m_scripted : Answer::Observe;
    if (how == Answer::Silent)
        return;
    if (how == Answer::FailPhotograph) {
        QMetaObject::invokeMethod(m_master, "setRunning", Qt::QueuedConnection, Q_ARG(bool, false));
        return;
    }
    for (Macropixel* record : std::as_const(m_records)) {
        const Triple observed = observe(record->number, m_shown(*record, tiles));
        record->redObserved = observed[0];
        record->greenObserved = observed[1];
        record->blueObserved = observed[2];
    }
    if (tiles)
        QMetaObject::invokeMethod(m_master, "tilesObserved", Qt::QueuedConnection, Q_ARG(QList<Tile*>, m_tiles));
    else
        QMetaObject::invokeMethod(m_master, "macropixelsObserved", Qt::QueuedConnection,
                                  Q_ARG(QList<Macropixel*>, m_records));
}
