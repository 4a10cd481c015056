#pragma once

#include "formats/CorvaneCalSets.h"

#include <TessellaExport.h>

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace CorvaneCal {

// Serialises a CalSets record as one CorvaneCal file, limited to the sets whose bits are in the
// mask. A first pass into a WCBNull measures the lengths the header announces; it runs once per
// writer, so the record must not change between writes of one writer. A failed measuring pass
// writes nothing to the caller's stream.
class TESSELLA_EXPORT Write {
public:
    enum Status : unsigned { Ok = 0, Failed = 3, InvalidPixelFormat = 4 };

    // maxStringLength 0 means the format's limit of 65536 bytes.
    Write(const CalSets& sets, std::uint64_t setMask, std::uint32_t maxStringLength = 0);
    ~Write();
    Write(const Write&) = delete;
    Write& operator=(const Write&) = delete;

    // Never throws; 0 on success, 3 after any error, 4 for an invalid pixel format.
    unsigned write(std::ostream& out);
    unsigned lastStatus() const { return lastStatus_; }

private:
    class Pass;

    unsigned serialise(std::ostream& out, bool measuring);
    void writeRecords(Pass& pass);
    // Emits the CalSet record of one set.
    void CBCalSet(Pass& pass, unsigned set);

    const CalSets& sets_;
    std::uint64_t setMask_;
    std::uint32_t maxStringLength_;
    unsigned lastStatus_ = Ok;
    bool measured_ = false;
    std::uint64_t fileSize_ = 0;
    std::uint64_t totalLength_ = 0;
    std::uint64_t recordAreaLength_ = 0;
};

} // namespace CorvaneCal
