#pragma once

class QString;

// What the updater needs of the program that owns it (the controller), so that the updater never
// includes its owner. A download holds the program's run while it lasts: it is refused while a
// run is on, starts a run with no task of its own, stops when the operator's Stop clears the run,
// and clears the run when it ends; it reports on the program's status line and progress bar. The
// host outlives its updater.
class UpdaterHost
{
public:
    virtual bool running() const = 0;
    // The updater only ever clears it.
    virtual void setRunning(bool running) = 0;
    // Enters the running state with no calibration task; refused while the host is busy or shut
    // down.
    virtual void runNothing() = 0;
    // A fraction from 0 to 1, or -1 for no progress to show.
    virtual void setProgress(double progress) = 0;
    virtual void setStatusString(const QString& statusString) = 0;

protected:
    ~UpdaterHost() = default;
};
