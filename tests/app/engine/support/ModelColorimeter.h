#pragma once

#include "instruments/Colorimeter.h"

#include <QDateTime>
#include <QList>

#include <array>
#include <atomic>
#include <functional>

class DisplayBase;

// A colorimeter that measures a display through a known linear model, for engine tests.
//
// The drive of each channel is what the display shows: its colour gain times its display gain.
// From the three drives the model gives luminance = black + luma . drive, CCT = cct0 + cct . drive
// and Duv = duv0 + duv . drive. The default model answers 6500 K and Duv 0 for every grey drive
// (equal on all channels), with 900 nits at full drive over a 0.5-nit black, so a correction to
// 6500 K, Duv 0 can reach any luminance target within range. Its luma, CCT and Duv rows pass the
// engine's plausibility checks.
//
// Each answer carries a new time stamp (ISO 8601 with milliseconds, strictly increasing) and ends
// in dataAvailable, unless a scripted fault says otherwise. Lives on the display's thread.
class ModelColorimeter : public Colorimeter
{
    Q_OBJECT
public:
    using Triple = std::array<double, 3>;

    struct Model
    {
        double black = 0.5;
        Triple luma{200.0, 600.0, 100.0};
        double cct0 = 6500.0;
        Triple cct{-4000.0, 1000.0, 3000.0};
        double duv0 = 0.0;
        Triple duv{-0.02, 0.04, -0.02};
    };

    enum class Fault {
        None,
        SameTimestamp, // answers, but with the time stamp of the answer before
        Recoverable,   // answers with an error of kind 1
        Fatal,         // answers with an error of kind 2
        Silent,        // never answers
    };

    explicit ModelColorimeter(DisplayBase* display, QObject* parent = nullptr);

    void setModel(const Model& model) { m_model = model; }
    const Model& model() const { return m_model; }
    // CCT, Duv and luminance of the model for the given drives.
    static Triple measure(const Model& model, const Triple& drive);
    // The display's drives now: colour gain times display gain, per channel.
    Triple drive() const;

    // Faults for the next answers, one per read, in order; then the standing fault applies.
    void scriptFaults(const QList<Fault>& faults) { m_script = faults; }
    void setFault(Fault fault) { m_fault = fault; }
    // Called at the start of every read with its number (from 1), before the model is applied.
    void setReadHook(std::function<void(int)> hook) { m_hook = std::move(hook); }
    // Reads requested so far; safe from any thread.
    int reads() const { return m_reads; }

public slots:
    void read() override;

private:
    DisplayBase* m_display;
    Model m_model;
    QList<Fault> m_script;
    Fault m_fault = Fault::None;
    std::function<void(int)> m_hook;
    std::atomic<int> m_reads{0};
    QDateTime m_lastStamp;
};
