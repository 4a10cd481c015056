#pragma once

#include "display/Macropixel.h"
#include "display/Tile.h"

#include <QList>
#include <QObject>

#include <array>
#include <atomic>
#include <functional>

class Calibrator;

// The camera side of a balance or template run, for engine tests and benchmarks: an object on
// the test's thread (or a thread of its own) that answers the master's getLdmsObserved /
// getTilesObserved as the controller does. It writes each record's observed red, green and blue
// from the gains the wall shows for it, through a known linear response per LDM, then calls
// macropixelsObserved / tilesObserved on the master, queued. What the wall shows is, unless told
// otherwise, the gains set in the record itself; a ProcessorWall makes it what the processor
// was sent.
//
// The response of an LDM: observed[c] = offset[c] + slope[c] * gain[c] + crosstalk * (sum of
// slope[k] * gain[k] over the other channels), clamped to the camera's 0 .. 255. The default
// responses keep every trim of -1 .. 1 inside the levels 10 .. 210, where the engine trusts them.
//
// Scripted, it stays silent or clears the master's running like a failed photograph.
class ModelWallObserver : public QObject
{
    Q_OBJECT
public:
    using Triple = std::array<double, 3>;

    struct Response
    {
        Triple offset{110.0, 120.0, 100.0};
        Triple slope{80.0, 85.0, 75.0};
        double crosstalk = 0.05;
    };

    // The gains the wall shows for a record; cell tells a template cell from a balance LDM.
    using Shown = std::function<Triple(const Macropixel& record, bool cell)>;

    enum class Answer {
        Observe,        // writes the observed values and answers
        Silent,         // never answers
        FailPhotograph, // answers by clearing the master's running
    };

    // records and tiles: the lists the master was given (they are read and written here, on the
    // observer's thread, only while the master waits for an answer).
    ModelWallObserver(Calibrator* master, QList<Macropixel*> records, QList<Tile*> tiles = {});

    // A different response for each LDM number: the default one shifted and scaled by the number.
    static Response variedResponse(quint32 number);
    // The response of each record by its number (the default response for every one until set).
    void setResponses(std::function<Response(quint32)> responses) { m_responses = std::move(responses); }
    Response response(quint32 number) const { return m_responses(number); }
    void setShown(Shown shown) { m_shown = std::move(shown); }
    Triple observe(quint32 number, const Triple& gains) const;
    // What an LDM of the given response shows at the given gains.
    static Triple respond(const Response& response, const Triple& gains);
    // The trims that make an LDM observe the targets exactly.
    Triple idealGains(quint32 number, const Triple& targets) const;

    // From the given request on (counting from 1), answer this way.
    void answerFrom(int request, Answer answer);
    // Called on every request before it is answered, with its count.
    void onRequest(std::function<void(int)> hook) { m_hook = std::move(hook); }
    int requests() const { return m_requests; }

private:
    void answer(bool tiles);

    Calibrator* m_master;
    QList<Macropixel*> m_records;
    QList<Tile*> m_tiles;
    std::function<Response(quint32)> m_responses = [](quint32) { return Response(); };
    Shown m_shown = [](const Macropixel& record, bool) {
        return Triple{record.redGain, record.greenGain, record.blueGain};
    };
    std::atomic<int> m_requests{0};
    int m_scriptedFrom = 0;
    Answer m_scripted = Answer::Observe;
    std::function<void(int)> m_hook;
};
