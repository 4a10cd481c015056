#include "formats/CorvaneCalSets.h"

#include "formats/CorvaneCalFormat.h"

#include <algorithm>

namespace CorvaneCal {

bool MeshCorr::isDefault() const
{
    const bool noValues = std::all_of(channels.begin(), channels.end(), [](const auto& c) { return c.empty(); });
    const bool noWords = std::all_of(words.begin(), words.end(), [](std::uint32_t w) { return w == 0; });
    return noValues && noWords && name.empty() && width == 0 && height == 0;
}

void CalSets::clearSet(unsigned set)
{
    const CalSets blank;
    switch (set) {
    case Set::HighGray:
        batchId = blank.batchId;
        tileId = blank.tileId;
        procInfo = blank.procInfo;
        brightness = blank.brightness;
        defaultGamut = blank.defaultGamut;
        defaultWhite = blank.defaultWhite;
        idealGamut = blank.idealGamut;
        measTemps.clear();
        pixelsXYZ.clear();
        olutXYY.clear();
        calTemplate.clear();
        break;
    case Set::LowGray:
        lowGray.clear();
        lowGray16 = blank.lowGray16;
        break;
    case Set::OLUT:
        olutId.clear();
        olutProcInfo = blank.olutProcInfo;
        olutGamut = blank.olutGamut;
        olutWhite = blank.olutWhite;
        olutDat.clear();
        olutRef = blank.olutRef;
        olutIShaper.clear();
        olutOShaper.clear();
        break;
    case Set::FactCorrHigh:
        factoryCorr = blank.factoryCorr;
        break;
    case Set::FactCorrLow:
        factoryLow = blank.factoryLow;
        break;
    case Set::BadPixels:
        badPixels.clear();
        break;
    case Set::FactCorrMesh:
        mesh = blank.mesh;
        break;
    default:
        break;
    }
    std::erase_if(stored, [set](const StoredRecord& r) { return keySet(r.key) == set; });
}

} // namespace CorvaneCal
