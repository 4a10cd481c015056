#include "formats/CorvaneCalWrite.h"

#include "formats/CorvaneCalFormat.h"
#include "formats/CorvaneCalWCBNull.h"
#include "formats/Crc32.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <limits>
#include <ostream>
#include <type_traits>

namespace CorvaneCal {

namespace {

// Numbers of the writer's messages.
enum WriteLine : int {
    kLineInvalidMeshSize = 925,
    kLineLengthsDontAddUp = 981,
    kLineFinalWriteError = 989,
    kLineWriteError = 1070,
    kLineStringTooLong = 1118,
    kLineTooManyMeasTemps = 1122,
    kLineRecordTooLong = 1126,
    kLineWrongPixelFormat = 1167,
    kLineInvalidSize = 1171,
};

constexpr std::uint32_t kMaxHeaderDimension = 0xFFFF;  // width and height are 16-bit fields
constexpr std::size_t kMaxMeasTemps = 0xFF;           // the entry count is one byte
constexpr std::uint64_t kMaxField32 = std::numeric_limits<std::uint32_t>::max();

// A big-endian byte image under construction.
struct Bytes {
    std::vector<std::uint8_t> data;

    void u8(unsigned v) { data.push_back(std::uint8_t(v)); }
    void u16(unsigned v)
    {
        u8(v >> 8);
        u8(v);
    }
    void u32(std::uint32_t v)
    {
        u16(v >> 16);
        u16(v & 0xFFFFu);
    }
    void u64(std::uint64_t v)
    {
        u32(std::uint32_t(v >> 32));
        u32(std::uint32_t(v));
    }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    template <std::size_t N>
    void floats(const std::array<float, N>& values, unsigned count = N)
    {
        for (unsigned i = 0; i < std::min<unsigned>(count, N); ++i)
            f32(values[i]);
    }
    void raw(const std::string& text) { data.insert(data.end(), text.begin(), text.end()); }
};

// True when any value differs from 0; a NaN counts as not 0.
bool nonZero(float v) { return v != 0.0f; }
template <typename T>
    requires std::is_integral_v<T>
bool nonZero(T v)
{
    return v != 0;
}
template <typename T, std::size_t N>
bool nonZero(const std::array<T, N>& values)
{
    return std::any_of(values.begin(), values.end(), [](const T& v) { return nonZero(v); });
}
bool nonZero(const TileId& id)
{
    return nonZero(id.raw) || id.word1 || id.word2 || nonZero(id.value) || id.byte;
}

} // namespace

// One serialisation into one stream: every byte passes through the CRC and the position.
class Write::Pass {
public:
    Pass(std::ostream& out, std::uint32_t maxStringLength) : out_(out), maxStringLength_(maxStringLength) {}

    std::uint64_t position() const { return position_; }
    std::uint32_t crc() const { return ~crc_; }
    std::uint64_t recordSum() const { return recordSum_; }
    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    void put(const Bytes& bytes)
    {
        crc32Update(crc_, bytes.data.data(), bytes.data.size());
        position_ += bytes.data.size();
        out_.write(reinterpret_cast<const char*>(bytes.data.data()), std::streamsize(bytes.data.size()));
        if (!out_.good()) {
            if (!writeErrorReported_)
                report(Severity::Error, kLineWriteError, "Write Error\n");
            writeErrorReported_ = true;
            failed_ = true;
        }
    }

    void record(std::uint32_t key, const Bytes& payload)
    {
        if (payload.data.size() > kMaxField32) {
            report(Severity::Error, kLineRecordTooLong, "Record too long: 0x%08x, %zu\n", key, payload.data.size());
            failed_ = true;
            return;
        }
        Bytes head;
        head.u32(key);
        head.u32(std::uint32_t(payload.data.size()));
        head.u8(0);
        put(head);
        put(payload);
        recordSum_ += kRecordHeaderSize + payload.data.size();
    }

    // A 2-byte length and the bytes, cut to the maximum string length.
    void text(Bytes& into, const std::string& value)
    {
        const std::size_t limit = maxStringLength_ == 0 ? kMaxStringLength : maxStringLength_;
        const std::size_t length = std::min(value.size(), limit);
        if (length >= kMaxStringLength) {
            report(Severity::Error, kLineStringTooLong, "String too long: %zu\n", length);
            failed_ = true;
        }
        into.u16(unsigned(length));
        into.raw(value.substr(0, length));
    }

private:
    std::ostream& out_;
    std::uint32_t maxStringLength_;
    std::uint32_t crc_ = kCrc32Initial;
    std::uint64_t position_ = 0;
    std::uint64_t recordSum_ = 0;
    bool failed_ = false;
    bool writeErrorReported_ = false;
};

Write::Write(const CalSets& sets, std::uint64_t setMask, std::uint32_t maxStringLength)
    : sets_(sets), setMask_(setMask), maxStringLength_(maxStringLength)
{
}

Write::~Write() = default;

unsigned Write::write(std::ostream& out)
{
    try {
        if (!measured_) {
            WCBNull sink;
            if (const unsigned status = serialise(sink, true); status != Ok)
                return lastStatus_ = status;
            measured_ = true;
        }
        return lastStatus_ = serialise(out, false);
    } catch (const std::exception&) {
        // A stream with exceptions enabled, or no memory for a record: a failed write.
        report(Severity::Error, kLineWriteError, "Write Error\n");
        return lastStatus_ = Failed;
    }
}

unsigned Write::serialise(std::ostream& out, bool measuring)
{
    const Header& header = sets_.header;
    if (channelsOfPixelFormat(header.pixelFormat) == 0) {
        report(Severity::Error, kLineWrongPixelFormat, "Invalid pixel format: %u\n", header.pixelFormat);
        return InvalidPixelFormat;
    }
    if (header.width > kMaxHeaderDimension || header.height > kMaxHeaderDimension) {
        report(Severity::Error, kLineInvalidSize, "Invalid size: %u x %u\n", header.width, header.height);
        return Failed;
    }

    Pass pass(out, maxStringLength_);
    Bytes head;
    head.u32(kMagic);
    head.u32(measuring ? 0 : std::uint32_t(totalLength_));
    head.u16(kHeaderLength);
    head.u32(header.word);
    head.u8(header.pixelFormat);
    head.u16(header.width);
    head.u16(header.height);
    head.u32(measuring ? 0 : std::uint32_t(recordAreaLength_));
    pass.put(head);
    const std::uint64_t recordAreaStart = pass.position();

    writeRecords(pass);

    const std::uint64_t totalLength = pass.position() - 8;
    const std::uint64_t recordAreaLength = pass.position() - recordAreaStart;
    const bool measuredDiffers = !measuring && (totalLength != totalLength_ || recordAreaLength != recordAreaLength_);
    if (pass.recordSum() != recordAreaLength || measuredDiffers || totalLength > kMaxField32) {
        report(Severity::Error, kLineLengthsDontAddUp, "KLV lengths don't add up: %u, %u\n",
               unsigned(pass.recordSum()), unsigned(recordAreaLength));
        pass.fail();
    }
    Bytes crc;
    crc.u32(pass.crc());
    pass.put(crc);
    out.flush();
    if (!out.good()) {
        report(Severity::Error, kLineFinalWriteError, "Write Error\n");
        pass.fail();
    }
    if (pass.failed())
        return Failed;
    if (measuring) {
        fileSize_ = pass.position();
        totalLength_ = totalLength;
        recordAreaLength_ = recordAreaLength;
    }
    return Ok;
}

void Write::CBCalSet(Pass& pass, unsigned set)
{
    Bytes payload;
    payload.u16(set);
    pass.record(Key::CalSet, payload);
}

void Write::writeRecords(Pass& pass)
{
    const CalSets& s = sets_;
    const unsigned channels = channelsOfPixelFormat(s.header.pixelFormat);
    const unsigned c3 = std::min(channels, kChannelsColour);
    const unsigned c5 = std::min(channels, kChannelsMax);
    const auto in = [this](unsigned set) { return (setMask_ & setBit(set)) != 0; };
    const auto emit = [&pass](std::uint32_t key, auto&& fill) {
        Bytes payload;
        fill(payload);
        pass.record(key, payload);
    };
    const auto pairs = [c3](const std::array<Pair, 3>& values) {
        return [&values, c3](Bytes& b) {
            for (unsigned i = 0; i < c3; ++i)
                b.floats(values[i]);
        };
    };
    const auto triples = [](const auto& values, unsigned count) {
        return [&values, count](Bytes& b) {
            for (unsigned i = 0; i < count; ++i)
                b.floats(values[i]);
        };
    };
    const auto procInfo = [](const ProcInfo& info) {
        return [&info](Bytes& b) {
            b.u64(info.value);
            b.u32(info.wordA);
            b.u32(info.wordB);
            b.u32(info.wordC);
        };
    };
    const auto words16 = [](const auto& values, unsigned count) {
        return [&values, count](Bytes& b) {
            for (const auto& entry : values)
                for (unsigned i = 0; i < count; ++i)
                    b.u16(entry[i]);
        };
    };
    const auto shaper = [](const std::vector<std::uint16_t>& values) {
        return [&values](Bytes& b) {
            for (std::uint16_t v : values)
                b.u16(v);
        };
    };

    const std::function<void(unsigned)> calSet = [this, &pass](unsigned set) { CBCalSet(pass, set); };
    for (unsigned set = 0; set < Set::DataSets; ++set)
        if (in(set))
            calSet(set);

    if (in(Set::FactCorrHigh) && nonZero(s.factoryCorr))
        emit(Key::CalFactoryCorr, triples(s.factoryCorr, c3));
    if (in(Set::FactCorrLow) && nonZero(s.factoryLow))
        emit(Key::CalFactoryLow, [&](Bytes& b) {
            for (unsigned i = 0; i < c3; ++i)
                b.u16(s.factoryLow[i]);
        });

    if (in(Set::HighGray)) {
        if (nonZero(s.tileId))
            emit(Key::CalTileID, [&](Bytes& b) {
                for (std::uint8_t v : s.tileId.raw)
                    b.u8(v);
                b.u32(s.tileId.word1);
                b.u32(s.tileId.word2);
                b.f32(s.tileId.value);
                b.u8(s.tileId.byte);
            });
        if (!s.batchId.empty())
            emit(Key::CalBatchID, [&](Bytes& b) { pass.text(b, s.batchId); });
        if (s.procInfo.value != 0 || s.procInfo.wordA != 0)
            emit(Key::CalProcInfo, procInfo(s.procInfo));
        if (nonZero(s.brightness))
            emit(Key::CalBrightness, [&](Bytes& b) { b.f32(s.brightness); });
        if (nonZero(s.defaultGamut))
            emit(Key::DefaultGamut, pairs(s.defaultGamut));
        if (nonZero(s.defaultWhite))
            emit(Key::DefaultWhite, [&](Bytes& b) { b.floats(s.defaultWhite); });
        if (nonZero(s.idealGamut))
            emit(Key::IdealGamut, triples(s.idealGamut, c3));
        if (s.measTemps.size() > kMaxMeasTemps) {
            report(Severity::Error, kLineTooManyMeasTemps, "Too many MeasTemp entries: %zu\n", s.measTemps.size());
            pass.fail();
        } else if (!s.measTemps.empty()) {
            emit(Key::MeasTemp, [&](Bytes& b) {
                b.u8(unsigned(s.measTemps.size()));
                for (const MeasTemp& entry : s.measTemps) {
                    b.u8(entry.id);
                    for (unsigned i = 0; i < c3; ++i)
                        b.u32(entry.words[i]);
                }
            });
        }
        if (!s.pixelsXYZ.empty())
            emit(Key::PixelsXYZ, [&](Bytes& b) {
                b.data.reserve(s.pixelsXYZ.size() * 12 * c3);
                for (const PixelXYZ& entry : s.pixelsXYZ)
                    triples(entry, c3)(b);
            });
        if (!s.olutXYY.empty())
            emit(Key::OLUTXYY, [&](Bytes& b) {
                for (const OlutXYY& entry : s.olutXYY)
                    triples(entry, c5)(b);
            });
        if (!s.calTemplate.empty())
            emit(Key::CalTemplate, [&](Bytes& b) { b.raw(s.calTemplate); });
    }

    if (in(Set::LowGray) && !s.lowGray.empty()) {
        if (s.lowGray16)
            emit(Key::LowGray16, words16(s.lowGray, c3));
        else
            emit(Key::LowGray8, [&](Bytes& b) {
                for (const LowGray& entry : s.lowGray)
                    for (unsigned i = 0; i < c3; ++i)
                        b.u8(entry[i] & 0xFFu);
            });
    }

    if (in(Set::OLUT)) {
        const ProcInfo& info = s.olutProcInfo;
        if (info.value != 0 || info.wordA != 0 || info.wordB != 0 || info.wordC != 0)
            emit(Key::OLUTProcInfo, procInfo(info));
        if (!s.olutId.empty())
            emit(Key::OLUTID, [&](Bytes& b) { pass.text(b, s.olutId); });
        if (nonZero(s.olutGamut))
            emit(Key::OLUTGamut, pairs(s.olutGamut));
        if (nonZero(s.olutWhite))
            emit(Key::OLUTWhite, [&](Bytes& b) { b.floats(s.olutWhite); });
        if (!s.olutDat.empty())
            emit(Key::OLUTDat, words16(s.olutDat, c5));
        if (nonZero(s.olutRef))
            emit(Key::OLUTRef, triples(s.olutRef, c5));
        if (!s.olutIShaper.empty())
            emit(Key::OLUTIShaper, shaper(s.olutIShaper));
        if (!s.olutOShaper.empty())
            emit(Key::OLUTOShaper, shaper(s.olutOShaper));
    }

    if (in(Set::BadPixels) && !s.badPixels.empty())
        emit(Key::BadPixels, [&](Bytes& b) {
            for (const BadPixel& entry : s.badPixels) {
                b.u16(entry.word1);
                b.u16(entry.word2);
                b.u8(entry.byte1);
                b.u8(entry.byte2);
            }
        });

    if (in(Set::FactCorrMesh) && !s.mesh.isDefault()) {
        const MeshCorr& mesh = s.mesh;
        const std::uint64_t samples = std::uint64_t(mesh.width) * mesh.height;
        bool sizesMatch = true;
        for (unsigned ch = 0; ch < c5; ++ch) {
            const auto& values = mesh.channels[ch];
            if (!values.empty() && values.size() != samples) {
                report(Severity::Error, kLineInvalidMeshSize, "Invalid mesh size, cc: %u, %u != %u x %u\n", ch,
                       unsigned(values.size()), mesh.width, mesh.height);
                sizesMatch = false;
            }
        }
        // A mesh that does not match its size is left out, and the write counts as failed.
        if (!sizesMatch) {
            pass.fail();
        } else {
            emit(Key::CalMeshCorr, [&](Bytes& b) {
                pass.text(b, mesh.name);
                b.u32(mesh.width);
                b.u32(mesh.height);
                for (std::uint32_t word : mesh.words)
                    b.u32(word);
                for (unsigned ch = 0; ch < c5; ++ch) {
                    const auto& values = mesh.channels[ch];
                    b.u8(values.empty() ? 0 : 1);
                    for (std::uint16_t v : values)
                        b.u16(v);
                }
            });
        }
    }

    const bool byTag = (setMask_ & (std::uint64_t(1) << 31)) != 0;
    const auto wantedTag = std::uint32_t(setMask_ >> 32);
    for (const StoredRecord& record : s.stored) {
        const unsigned set = keySet(record.key);
        const bool wanted = (set < Set::DataSets && in(set)) || (byTag && record.tag == wantedTag);
        if (wanted && record.bytes)
            emit(record.key, [&](Bytes& b) { b.data = *record.bytes; });
    }
}

} // namespace CorvaneCal
