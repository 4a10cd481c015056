#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DisplayBase;
class ProcessorSimulator;
struct Macropixel;

// The wall as the loopback processor shows it, for tests and benchmarks of uniformity runs: the
// LDM gains of the latest updates and the correction meshes of the latest uploads that reached
// the simulator, looked up by the records a run adjusts. That is what a camera in front of the
// processor's wall photographs (before the wall's own response, see ModelWallObserver).
//
// It follows the simulator's requests as they arrive and keeps only the latest state; the
// simulator keeps its log only when asked to (a run at the scale of a whole wall sends hundreds
// of megabytes). The layout it places records by (tile names, each LDM's place and number within
// its tile) is copied from the display at construction. Safe from any thread: requests arrive
// on the simulator's thread, look-ups come from the observer's.
class ProcessorWall
{
public:
    using Triple = std::array<double, 3>;

    ProcessorWall(ProcessorSimulator& simulator, DisplayBase& wall, bool keepLog = false);
    // Stops following the simulator.
    ~ProcessorWall();

    ProcessorWall(const ProcessorWall&) = delete;
    ProcessorWall& operator=(const ProcessorWall&) = delete;

    // A balance record (a copy of one of the display's LDMs): the gains of the last update that
    // named its receiver and index; 0 until one did.
    Triple ldmGains(const Macropixel& ldm) const;
    // A template cell (its indexInTile holding the number of the display LDM it lies in): its
    // sample in the mesh last uploaded for that LDM, less the mesh's offset of 1; the LDM's own
    // gains until a mesh came.
    Triple cellGains(const Macropixel& cell) const;
    // Either of the two, as a camera would see the record.
    Triple shown(const Macropixel& record, bool cell) const { return cell ? cellGains(record) : ldmGains(record); }

    // Accepted requests so far: mesh files, gain updates, and tile calibrations saved.
    std::size_t meshUploads() const;
    std::size_t gainUpdates() const;
    std::size_t commits() const;

private:
    struct Layout;
    struct State;

    void take(const std::string& method, const std::string& target, const std::string& body);

    ProcessorSimulator& m_simulator;
    std::unique_ptr<const Layout> m_layout;
    mutable std::mutex m_mutex; // guards m_state
    std::unique_ptr<State> m_state;
};
