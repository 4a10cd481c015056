#pragma once

#include "formats/CorvaneCalSets.h"

#include <TessellaExport.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneCal {

// Parses one CorvaneCal key-length-value stream and reports every record through the virtual
// operations below, which do nothing here. Every byte passes through the CRC; no length in
// the stream is trusted: a record must fit in what remains of the record area, and payloads
// are read in bounded chunks, so a crafted or truncated stream fails in small memory.
// Errors and warnings go to the standard error stream, the verbose dump to the standard output.
class TESSELLA_EXPORT Read {
public:
    enum Status : unsigned {
        Ok = 0,
        Malformed = 1,         // malformed or truncated input
        UnknownMagic = 2,
        Stopped = 3,           // an EndTag record ended the parse
        InvalidPixelFormat = 4,
    };

    explicit Read(std::istream& in, bool verbose = false);
    virtual ~Read();
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;

    // Parses the whole stream; never throws.
    unsigned parse();

    virtual void onHeader(const Header& header, std::uint32_t totalLength, std::uint32_t recordAreaLength);
    // Nonzero skips the record: by default every bank other than 0.
    virtual unsigned skipBank(std::uint8_t bank);
    virtual void onEnd();
    virtual void onCalSet(std::uint64_t setMask, bool first);
    virtual void onCalBatchID(const std::string& id);
    virtual void onCalTileID(const TileId& id);
    virtual void onCalProcInfo(const ProcInfo& info);
    virtual void onMeasTempCount(std::size_t count);
    virtual void onMeasTemp(std::size_t index, const MeasTemp& entry);
    virtual void onPixelsXYZCount(std::size_t count);
    virtual void onPixelXYZ(std::size_t index, const PixelXYZ& entry);
    virtual void onOLUTXYYCount(std::size_t count);
    virtual void onOLUTXYY(std::size_t index, const OlutXYY& entry);
    virtual void onOLUTProcInfo(const ProcInfo& info);
    virtual void onOLUTID(const std::string& id);
    virtual void onOLUTGamut(const std::array<Pair, 3>& gamut);
    virtual void onOLUTWhite(const Pair& white);
    virtual void onOLUTRef(const std::array<Triple, 5>& reference);
    virtual void onOLUTDatCount(std::size_t count);
    virtual void onOLUTDat(std::size_t index, const OlutDat& entry);
    virtual void onOLUTIShaperCount(std::size_t count);
    virtual void onOLUTIShaper(std::size_t index, std::uint16_t value);
    virtual void onOLUTOShaperCount(std::size_t count);
    virtual void onOLUTOShaper(std::size_t index, std::uint16_t value);
    virtual void onLowGrayCount(std::size_t count, bool sixteenBit);
    virtual void onLowGray(std::size_t index, const LowGray& entry);
    virtual void onCalTemplate(const std::string& text);
    virtual void onDefaultGamut(const std::array<Pair, 3>& gamut);
    virtual void onDefaultWhite(const Pair& white);
    virtual void onCalBrightness(float brightness);
    virtual void onIdealGamut(const std::array<Triple, 3>& gamut);
    virtual void onCalFactoryCorr(const std::array<Triple, 3>& correction);
    virtual void onCalFactoryLow(const std::array<std::uint16_t, 3>& values);
    virtual void onCalMeshCorr(MeshCorr mesh);
    virtual void onDriverPar(const std::string& name, std::uint8_t type, std::uint64_t value);
    virtual void onBadPixelsCount(std::size_t count);
    virtual void onBadPixel(std::size_t index, const BadPixel& entry);
    virtual void onUnknownKey(std::uint32_t key, std::uint32_t length,
                              std::shared_ptr<const std::vector<std::uint8_t>> bytes);

private:
    class Cursor;

    unsigned parseStream();
    unsigned readRecord();
    bool decode(std::uint32_t key, Cursor& payload);
    bool readBytes(void* into, std::size_t count);
    bool readPayload(std::uint32_t length, std::vector<std::uint8_t>& into);
    bool skip(std::uint64_t count);
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    void markEof();

    std::istream& in_;
    std::uint64_t position_ = 0;
    std::uint32_t crc_ = 0;
    bool eof_ = false;
    bool eofReported_ = false;
    unsigned channels_ = 0;
    std::uint64_t pixels_ = 0;
    bool verbose_ = false;
    std::uint64_t setsSeen_ = 0;
    std::uint64_t recordAreaEnd_ = 0;
    std::vector<std::uint8_t> payload_;
};

} // namespace CorvaneCal
