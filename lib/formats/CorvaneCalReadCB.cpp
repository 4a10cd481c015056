#include "formats/CorvaneCalReadCB.h"

#include "formats/CorvaneCalFormat.h"

#include <cstdio>

namespace CorvaneCal {

namespace {
constexpr int kLineNotSupportedPixel = 728;
constexpr int kLineNotSupportedBadPixel = 758;
} // namespace

ReadCB::ReadCB(std::istream& in, CalSets& sets, std::uint32_t tag) : Read(in), sets_(sets), tag_(tag) {}

bool ReadCB::read(std::istream& in, CalSets& sets, std::uint64_t& setsFound, std::uint32_t tag)
{
    ReadCB reader(in, sets, tag);
    reader.parse();
    setsFound |= reader.setsFound();
    if (reader.complete())
        return true;
    for (unsigned set = 0; set < Set::DataSets; ++set)
        if (reader.setsFound() & setBit(set))
            sets.clearSet(set);
    return false;
}

void ReadCB::onHeader(const Header& header, std::uint32_t, std::uint32_t) { sets_.header = header; }
void ReadCB::onEnd() { complete_ = true; }

void ReadCB::onCalSet(std::uint64_t setMask, bool first)
{
    setsFound_ |= setMask;
    if (!first)
        return;
    for (unsigned set = 0; set < Set::DataSets; ++set)
        if (setMask & setBit(set))
            sets_.clearSet(set);
}

void ReadCB::onCalBatchID(const std::string& id) { sets_.batchId = id; }
void ReadCB::onCalTileID(const TileId& id) { sets_.tileId = id; }
void ReadCB::onCalProcInfo(const ProcInfo& info) { sets_.procInfo = info; }
void ReadCB::onMeasTemp(std::size_t, const MeasTemp& entry) { sets_.measTemps.push_back(entry); }

void ReadCB::onPixelXYZ(std::size_t index, const PixelXYZ& entry)
{
    auto& pixels = sets_.pixelsXYZ;
    if (index == pixels.size())
        pixels.push_back(entry);
    else if (index < pixels.size())
        pixels[index] = entry;
    else
        report(Severity::Error, kLineNotSupportedPixel, "Not supported\n");
}

void ReadCB::onOLUTXYY(std::size_t, const OlutXYY& entry) { sets_.olutXYY.push_back(entry); }
void ReadCB::onOLUTProcInfo(const ProcInfo& info) { sets_.olutProcInfo = info; }
void ReadCB::onOLUTID(const std::string& id) { sets_.olutId = id; }
void ReadCB::onOLUTGamut(const std::array<Pair, 3>& gamut) { sets_.olutGamut = gamut; }
void ReadCB::onOLUTWhite(const Pair& white) { sets_.olutWhite = white; }
void ReadCB::onOLUTRef(const std::array<Triple, 5>& reference) { sets_.olutRef = reference; }
void ReadCB::onOLUTDat(std::size_t, const OlutDat& entry) { sets_.olutDat.push_back(entry); }
void ReadCB::onOLUTIShaper(std::size_t, std::uint16_t value) { sets_.olutIShaper.push_back(value); }
void ReadCB::onOLUTOShaper(std::size_t, std::uint16_t value) { sets_.olutOShaper.push_back(value); }

void ReadCB::onLowGrayCount(std::size_t, bool sixteenBit)
{
    sets_.lowGray.clear();
    sets_.lowGray16 = sixteenBit ? 1 : 0;
}

void ReadCB::onLowGray(std::size_t, const LowGray& entry) { sets_.lowGray.push_back(entry); }
void ReadCB::onCalTemplate(const std::string& text) { sets_.calTemplate = text; }
void ReadCB::onDefaultGamut(const std::array<Pair, 3>& gamut) { sets_.defaultGamut = gamut; }
void ReadCB::onDefaultWhite(const Pair& white) { sets_.defaultWhite = white; }
void ReadCB::onCalBrightness(float brightness) { sets_.brightness = brightness; }
void ReadCB::onIdealGamut(const std::array<Triple, 3>& gamut) { sets_.idealGamut = gamut; }
void ReadCB::onCalFactoryCorr(const std::array<Triple, 3>& correction) { sets_.factoryCorr = correction; }
void ReadCB::onCalFactoryLow(const std::array<std::uint16_t, 3>& values) { sets_.factoryLow = values; }
void ReadCB::onCalMeshCorr(MeshCorr mesh) { sets_.mesh = std::move(mesh); }

void ReadCB::onBadPixel(std::size_t index, const BadPixel& entry)
{
    if (index == sets_.badPixels.size())
        sets_.badPixels.push_back(entry);
    else
        report(Severity::Error, kLineNotSupportedBadPixel, "Not supported\n");
}

void ReadCB::onUnknownKey(std::uint32_t key, std::uint32_t length, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
{
    sets_.stored.push_back({key, length, std::move(bytes), tag_});
}

} // namespace CorvaneCal
