#pragma once

#include "formats/CorvaneCalRead.h"
#include "formats/CorvaneCalSets.h"

#include <TessellaExport.h>

namespace CorvaneCal {

// A reader that stores what it is told into a CalSets record.
class TESSELLA_EXPORT ReadCB : public Read {
public:
    ReadCB(std::istream& in, CalSets& sets, std::uint32_t tag = 0);

    // Parses `in` into `sets` and ORs the sets found into `setsFound`. True only when the file
    // was read to its verified end; otherwise every set found is cleared again.
    static bool read(std::istream& in, CalSets& sets, std::uint64_t& setsFound, std::uint32_t tag = 0);

    std::uint64_t setsFound() const { return setsFound_; }
    bool complete() const { return complete_; }

    void onHeader(const Header& header, std::uint32_t totalLength, std::uint32_t recordAreaLength) override;
    void onEnd() override;
    void onCalSet(std::uint64_t setMask, bool first) override;
    void onCalBatchID(const std::string& id) override;
    void onCalTileID(const TileId& id) override;
    void onCalProcInfo(const ProcInfo& info) override;
    void onMeasTemp(std::size_t index, const MeasTemp& entry) override;
    void onPixelXYZ(std::size_t index, const PixelXYZ& entry) override;
    void onOLUTXYY(std::size_t index, const OlutXYY& entry) override;
    void onOLUTProcInfo(const ProcInfo& info) override;
    void onOLUTID(const std::string& id) override;
    void onOLUTGamut(const std::array<Pair, 3>& gamut) override;
    void onOLUTWhite(const Pair& white) override;
    void onOLUTRef(const std::array<Triple, 5>& reference) override;
    void onOLUTDat(std::size_t index, const OlutDat& entry) override;
    void onOLUTIShaper(std::size_t index, std::uint16_t value) override;
    void onOLUTOShaper(std::size_t index, std::uint16_t value) override;
    void onLowGrayCount(std::size_t count, bool sixteenBit) override;
    void onLowGray(std::size_t index, const LowGray& entry) override;
    void onCalTemplate(const std::string& text) override;
    void onDefaultGamut(const std::array<Pair, 3>& gamut) override;
    void onDefaultWhite(const Pair& white) override;
    void onCalBrightness(float brightness) override;
    void onIdealGamut(const std::array<Triple, 3>& gamut) override;
    void onCalFactoryCorr(const std::array<Triple, 3>& correction) override;
    void onCalFactoryLow(const std::array<std::uint16_t, 3>& values) override;
    void onCalMeshCorr(MeshCorr mesh) override;
    void onBadPixel(std::size_t index, const BadPixel& entry) override;
    void onUnknownKey(std::uint32_t key, std::uint32_t length,
                      std::shared_ptr<const std::vector<std::uint8_t>> bytes) override;

private:
    CalSets& sets_;
    std::uint32_t tag_;
    std::uint64_t setsFound_ = 0;
    bool complete_ = false;
};

} // namespace CorvaneCal
