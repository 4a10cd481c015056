#include "formats/CorvaneCalRead.h"

#include "formats/CorvaneCalFormat.h"
#include "formats/Crc32.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <istream>
#include <new>

namespace CorvaneCal {

namespace {

// Numbers of the reader's messages.
enum Line : int {
    kLineInvalidAreaLength = 159,
    kLineEofMagic = 183,
    kLineUnknownMagic = 187,
    kLineEofHeader = 195,
    kLineInvalidHeaderLength = 209,
    kLineEofHeaderEnd = 215,
    kLineInvalidPixelFormat = 221,
    kLineInvalidTotalLength = 236,
    kLineEofCrc = 246,
    kLineCrcMismatch = 254,
    kLineZeroKey = 267,
    kLineEofRecordHeader = 274,
    kLineUnknownDriverParType = 569,
    kLineDeletedKey = 588,
    kLineUnknownKey = 608,
    kLineUnknownKeyTooBig = 611,
    kLineUnknownKeyAllocFail = 618,
    kLineInvalidRecord = 640,
    kLineEof = 1007,
    kLineException = 1010,
};

// Payloads are read in pieces of this size, so memory follows the bytes that really arrive,
// never a declared length.
constexpr std::size_t kChunk = 64 * 1024;

} // namespace

// Bounds-checked big-endian decoding of one record's payload. Reading past the end yields
// zeros and is remembered, so the caller can refuse the record before using any of it.
class Read::Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t consumed() const { return used_; }
    bool overrun() const { return used_ > size_; }
    std::size_t remaining() const { return overrun() ? 0 : size_ - std::size_t(used_); }
    // Claims count more bytes; false (and overrun) when they are not there.
    bool require(std::uint64_t count)
    {
        if (count <= remaining())
            return true;
        used_ += count;
        return false;
    }

    std::uint8_t u8() { return std::uint8_t(take(1) ? data_[used_ - 1] : 0); }
    std::uint16_t u16() { return take(2) ? loadBig16(data_ + used_ - 2) : 0; }
    std::uint32_t u32() { return take(4) ? loadBig32(data_ + used_ - 4) : 0; }
    std::uint64_t u64() { return take(8) ? loadBig64(data_ + used_ - 8) : 0; }
    float f32() { return std::bit_cast<float>(u32()); }
    std::string text(std::size_t count)
    {
        if (!take(count) || count == 0)
            return {};
        return std::string(reinterpret_cast<const char*>(data_ + used_ - count), count);
    }
    std::string lengthPrefixedText() { return text(u16()); }
    template <std::size_t N>
    std::array<float, N> floats()
    {
        std::array<float, N> out{};
        for (float& f : out)
            f = f32();
        return out;
    }
    // The first `count` entries of an array, decoded by fn; the rest stay zero.
    template <typename T, std::size_t N, typename Fn>
    std::array<T, N> first(unsigned count, Fn fn)
    {
        std::array<T, N> out{};
        for (unsigned i = 0; i < std::min<unsigned>(count, N); ++i)
            out[i] = fn();
        return out;
    }

private:
    bool take(std::size_t count)
    {
        const bool ok = count <= remaining();
        used_ += count;
        return ok;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t used_ = 0;
};

Read::Read(std::istream& in, bool verbose) : in_(in), verbose_(verbose) {}

Read::~Read() = default;

void Read::onHeader(const Header&, std::uint32_t, std::uint32_t) {}
unsigned Read::skipBank(std::uint8_t bank) { return bank != 0 ? 2 : 0; }
void Read::onEnd() {}
void Read::onCalSet(std::uint64_t, bool) {}
void Read::onCalBatchID(const std::string&) {}
void Read::onCalTileID(const TileId&) {}
void Read::onCalProcInfo(const ProcInfo&) {}
void Read::onMeasTempCount(std::size_t) {}
void Read::onMeasTemp(std::size_t, const MeasTemp&) {}
void Read::onPixelsXYZCount(std::size_t) {}
void Read::onPixelXYZ(std::size_t, const PixelXYZ&) {}
void Read::onOLUTXYYCount(std::size_t) {}
void Read::onOLUTXYY(std::size_t, const OlutXYY&) {}
void Read::onOLUTProcInfo(const ProcInfo&) {}
void Read::onOLUTID(const std::string&) {}
void Read::onOLUTGamut(const std::array<Pair, 3>&) {}
void Read::onOLUTWhite(const Pair&) {}
void Read::onOLUTRef(const std::array<Triple, 5>&) {}
void Read::onOLUTDatCount(std::size_t) {}
void Read::onOLUTDat(std::size_t, const OlutDat&) {}
void Read::onOLUTIShaperCount(std::size_t) {}
void Read::onOLUTIShaper(std::size_t, std::uint16_t) {}
void Read::onOLUTOShaperCount(std::size_t) {}
void Read::onOLUTOShaper(std::size_t, std::uint16_t) {}
void Read::onLowGrayCount(std::size_t, bool) {}
void Read::onLowGray(std::size_t, const LowGray&) {}
void Read::onCalTemplate(const std::string&) {}
void Read::onDefaultGamut(const std::array<Pair, 3>&) {}
void Read::onDefaultWhite(const Pair&) {}
void Read::onCalBrightness(float) {}
void Read::onIdealGamut(const std::array<Triple, 3>&) {}
void Read::onCalFactoryCorr(const std::array<Triple, 3>&) {}
void Read::onCalFactoryLow(const std::array<std::uint16_t, 3>&) {}
void Read::onCalMeshCorr(MeshCorr) {}
void Read::onDriverPar(const std::string&, std::uint8_t, std::uint64_t) {}
void Read::onBadPixelsCount(std::size_t) {}
void Read::onBadPixel(std::size_t, const BadPixel&) {}
void Read::onUnknownKey(std::uint32_t, std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>) {}

unsigned Read::parse()
{
    // A stream with exceptions enabled, or a failed allocation, must not escape the reader.
    try {
        return parseStream();
    } catch (const std::exception& e) {
        report(Severity::Error, kLineException, "Read failed: %s\n", e.what());
        return Malformed;
    }
}

unsigned Read::parseStream()
{
    crc_ = kCrc32Initial;
    position_ = 0;
    eof_ = false;
    eofReported_ = false;
    setsSeen_ = 0;

    const std::uint32_t magic = u32();
    if (eof_) {
        report(Severity::Error, kLineEofMagic, "EOF on magic\n");
        return Malformed;
    }
    if (magic != kMagic) {
        report(Severity::Error, kLineUnknownMagic, "Unknown magic: 0x%08x\n", magic);
        return UnknownMagic;
    }
    const std::uint32_t totalLength = u32();
    const std::uint16_t headerLength = u16();
    if (eof_) {
        report(Severity::Error, kLineEofHeader, "EOF on header\n");
        return Malformed;
    }
    if (verbose_)
        std::printf("Total Length:%d,  Header Length:%d, Header Position:%d\n", int(totalLength), int(headerLength),
                    int(position_));

    Header header;
    header.word = u32();
    header.pixelFormat = u8();
    header.width = u16();
    header.height = u16();
    if (headerLength < kHeaderLength) {
        report(Severity::Error, kLineInvalidHeaderLength, "Invalid header len: %u < %u\n", unsigned(headerLength),
               unsigned(kHeaderLength));
        return Malformed;
    }
    skip(headerLength - kHeaderLength);
    const std::uint32_t recordAreaLength = u32();
    if (eof_) {
        report(Severity::Error, kLineEofHeaderEnd, "EOF on header end\n");
        return Malformed;
    }
    channels_ = channelsOfPixelFormat(header.pixelFormat);
    if (channels_ == 0) {
        report(Severity::Error, kLineInvalidPixelFormat, "Invalid pixel format: %u\n", header.pixelFormat);
        return InvalidPixelFormat;
    }
    pixels_ = std::uint64_t(header.width) * header.height;

    onHeader(header, totalLength, recordAreaLength);
    if (verbose_)
        std::printf("Header Width:%d, Header Height:%d\n", int(header.width), int(header.height));

    recordAreaEnd_ = position_ + recordAreaLength;
    while (position_ + kRecordHeaderSize <= recordAreaEnd_) {
        if (const unsigned status = readRecord(); status != Ok)
            return status;
    }
    if (position_ != recordAreaEnd_) {
        report(Severity::Error, kLineInvalidAreaLength, "Invalid KLV len: %u, %u\n", unsigned(recordAreaEnd_),
               unsigned(position_));
        if (position_ > recordAreaEnd_)
            return Malformed;
        skip(recordAreaEnd_ - position_);
    }
    const std::uint64_t recordsEnd = std::uint64_t(totalLength) + 8;
    if (position_ > recordsEnd) {
        report(Severity::Error, kLineInvalidTotalLength, "Invalid total length: %u, %u\n", unsigned(recordsEnd),
               unsigned(position_));
        return Malformed;
    }
    skip(recordsEnd - position_);

    const std::uint32_t computed = ~crc_;
    const std::uint32_t stored = u32();
    if (eof_) {
        report(Severity::Error, kLineEofCrc, "EOF on CRC\n");
        return Malformed;
    }
    if (stored != computed) {
        if (verbose_)
            std::printf("KLV CRC mismatch 0x%08x != 0x%08x\n", stored, computed);
        else
            report(Severity::Error, kLineCrcMismatch, "CRC mismatch: 0x%08x != 0x%08x, pos: %u\n", stored, computed,
                   unsigned(position_));
        return Malformed;
    }
    if (verbose_)
        std::printf("KLV CRC Good\n");
    onEnd();
    return Ok;
}

unsigned Read::readRecord()
{
    const std::uint64_t recordStart = position_;
    std::uint32_t key = u32();
    if (key == Key::CalEmpty && !eof_)
        report(Severity::Error, kLineZeroKey, "Zero KLV ID @ %u, GFE: %d/%d/%d\n", unsigned(recordStart),
               int(in_.good()), int(in_.fail()), int(in_.eof()));
    const std::uint32_t length = u32();
    const std::uint8_t bank = u8();
    if (eof_) {
        report(Severity::Error, kLineEofRecordHeader, "EOF on KLV header\n");
        return Malformed;
    }
    const std::uint64_t payloadStart = position_;
    if (verbose_) {
        const char* name = keyName(key);
        char unknown[32];
        if (!name) {
            std::snprintf(unknown, sizeof unknown, "Unknown[0x%08X]", key);
            name = unknown;
        }
        std::printf("Key:%s, Bytes:%u, Bank:%u, Start@:%u\n", name, length, unsigned(bank), unsigned(payloadStart));
    }
    const auto invalid = [&](std::uint64_t consumed) {
        report(Severity::Error, kLineInvalidRecord, "Invalid KLV 0x%08x length: %u, %u, eof: %d\n", key,
               unsigned(consumed), length, int(eof_));
        return Malformed;
    };
    // The declared length is checked against the record area before anything is read for it.
    const std::uint64_t areaLeft = recordAreaEnd_ - payloadStart;
    if (length > areaLeft)
        return invalid(areaLeft);
    if (skipBank(bank) != 0)
        return skip(length) ? Ok : Malformed;
    if (key == Key::EndTag)
        return Stopped;

    const unsigned set = keySet(key);
    bool handled = true;
    if (set == Set::Deleted) {
        const char* name = keyName(key);
        report(Severity::Info, kLineDeletedKey, "Dropping deleted KLV ID: 0x%08x, %s\n", key, name ? name : "???");
        skip(length);
    } else if (key == Key::CalEmpty) {
        skip(length);
    } else if (!keyName(key)) {
        report(Severity::Warning, kLineUnknownKey, "Unknown KLV ID: 0x%08x, len: %u\n", key, length);
        if (length > kMaxUnknownRecord) {
            report(Severity::Error, kLineUnknownKeyTooBig, "Unknown key 0x%08x length too big: %u\n", key, length);
            skip(length);
        } else {
            auto bytes = std::make_shared<std::vector<std::uint8_t>>();
            bool kept = false;
            try {
                kept = readPayload(length, *bytes);
            } catch (const std::bad_alloc&) {
                report(Severity::Error, kLineUnknownKeyAllocFail, "Unknown key 0x%08x alloc fail len: %u\n", key,
                       length);
            }
            if (kept)
                onUnknownKey(key, length, std::move(bytes));
            else
                skip(payloadStart + length - position_);
        }
    } else {
        if (!readPayload(length, payload_))
            return invalid(payload_.size());
        Cursor cursor(payload_.data(), payload_.size());
        handled = decode(key, cursor);
        if (!handled || cursor.overrun())
            return invalid(cursor.consumed());
    }
    if (set < Set::DataSets)
        setsSeen_ |= setBit(set);
    if (eof_)
        return invalid(position_ - payloadStart);
    return Ok;
}

bool Read::decode(std::uint32_t key, Cursor& c)
{
    const unsigned c3 = std::min(channels_, kChannelsColour);
    const unsigned c5 = std::min(channels_, kChannelsMax);
    const auto procInfo = [&c] {
        ProcInfo info;
        const bool full = c.remaining() >= 20;
        info.value = c.u64();
        info.wordA = c.u32();
        if (full) {
            info.wordB = c.u32();
            info.wordC = c.u32();
        }
        return info;
    };
    const auto pairs = [&] { return c.first<Pair, 3>(c3, [&] { return c.floats<2>(); }); };
    const auto triples = [&] { return c.first<Triple, 3>(c3, [&] { return c.floats<3>(); }); };
    const auto words16 = [&](auto& entry, unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            entry[i] = c.u16();
    };
    // Entry counts come from the payload that is really there, never from a declared count.
    const auto entries = [&](std::size_t entrySize) { return c.remaining() / entrySize; };
    const auto capped = [this](std::size_t count) { return pixels_ == 0 ? count : std::min<std::uint64_t>(count, pixels_); };

    switch (key) {
    case Key::CalBatchID:
    case Key::OLUTID: {
        const std::string id = c.lengthPrefixedText();
        if (c.overrun())
            return false;
        key == Key::CalBatchID ? onCalBatchID(id) : onOLUTID(id);
        return true;
    }
    case Key::CalTileID: {
        TileId id;
        for (auto& b : id.raw)
            b = c.u8();
        id.word1 = c.u32();
        id.word2 = c.u32();
        id.value = c.f32();
        id.byte = c.u8();
        if (c.overrun())
            return false;
        onCalTileID(id);
        return true;
    }
    case Key::CalProcInfo:
    case Key::OLUTProcInfo: {
        const ProcInfo info = procInfo();
        if (c.overrun())
            return false;
        key == Key::CalProcInfo ? onCalProcInfo(info) : onOLUTProcInfo(info);
        return true;
    }
    case Key::CalBrightness: {
        const float value = c.f32();
        if (c.overrun())
            return false;
        onCalBrightness(value);
        return true;
    }
    case Key::DefaultGamut:
    case Key::OLUTGamut: {
        const auto gamut = pairs();
        if (c.overrun())
            return false;
        key == Key::DefaultGamut ? onDefaultGamut(gamut) : onOLUTGamut(gamut);
        return true;
    }
    case Key::DefaultWhite:
    case Key::OLUTWhite: {
        const Pair white = c.floats<2>();
        if (c.overrun())
            return false;
        key == Key::DefaultWhite ? onDefaultWhite(white) : onOLUTWhite(white);
        return true;
    }
    case Key::IdealGamut:
    case Key::CalFactoryCorr: {
        const auto values = triples();
        if (c.overrun())
            return false;
        key == Key::IdealGamut ? onIdealGamut(values) : onCalFactoryCorr(values);
        return true;
    }
    case Key::OLUTRef: {
        const auto values = c.first<Triple, 5>(c5, [&] { return c.floats<3>(); });
        if (c.overrun())
            return false;
        onOLUTRef(values);
        return true;
    }
    case Key::CalFactoryLow: {
        std::array<std::uint16_t, 3> values{};
        words16(values, c3);
        if (c.overrun())
            return false;
        onCalFactoryLow(values);
        return true;
    }
    case Key::MeasTemp: {
        const std::size_t count = c.u8();
        const std::size_t entrySize = 1 + 4 * std::size_t(c3);
        if (!c.require(count * entrySize))
            return false;
        onMeasTempCount(count);
        for (std::size_t i = 0; i < count; ++i) {
            MeasTemp entry;
            entry.id = c.u8();
            for (unsigned k = 0; k < c3; ++k)
                entry.words[k] = c.u32();
            onMeasTemp(i, entry);
        }
        return true;
    }
    case Key::DriverPar: {
        const std::string name = c.lengthPrefixedText();
        const std::uint8_t type = c.u8();
        if (c.overrun())
            return false;
        if (type > 2) {
            report(Severity::Warning, kLineUnknownDriverParType, "Unknown DriverPar type: %u, name: %s\n",
                   unsigned(type), name.c_str());
            return true;
        }
        const std::uint64_t value = type == 2 ? c.u64() : c.u32();
        if (c.overrun())
            return false;
        onDriverPar(name, type, value);
        return true;
    }
    case Key::LowGray16:
    case Key::LowGray8: {
        const bool sixteen = key == Key::LowGray16;
        const std::size_t count = capped(entries(std::size_t(c3) * (sixteen ? 2 : 1)));
        onLowGrayCount(count, sixteen);
        for (std::size_t i = 0; i < count; ++i) {
            LowGray entry{};
            for (unsigned k = 0; k < c3; ++k)
                entry[k] = sixteen ? c.u16() : c.u8();
            onLowGray(i, entry);
        }
        return true;
    }
    case Key::PixelsXYZ: {
        const std::size_t count = std::min<std::uint64_t>(pixels_, entries(12 * std::size_t(c3)));
        onPixelsXYZCount(count);
        for (std::size_t i = 0; i < count; ++i)
            onPixelXYZ(i, c.first<Triple, 3>(c3, [&] { return c.floats<3>(); }));
        return true;
    }
    case Key::OLUTXYY: {
        const std::size_t count = std::min<std::uint64_t>(pixels_, entries(12 * std::size_t(c5)));
        onOLUTXYYCount(count);
        for (std::size_t i = 0; i < count; ++i)
            onOLUTXYY(i, c.first<Triple, 5>(c5, [&] { return c.floats<3>(); }));
        return true;
    }
    case Key::OLUTDat: {
        const std::size_t count = entries(2 * std::size_t(c5));
        onOLUTDatCount(count);
        for (std::size_t i = 0; i < count; ++i) {
            OlutDat entry{};
            words16(entry, c5);
            onOLUTDat(i, entry);
        }
        return true;
    }
    case Key::CalTemplate:
        onCalTemplate(c.text(c.remaining()));
        return true;
    case Key::OLUTIShaper:
    case Key::OLUTOShaper: {
        const bool input = key == Key::OLUTIShaper;
        const std::size_t count = entries(2);
        input ? onOLUTIShaperCount(count) : onOLUTOShaperCount(count);
        for (std::size_t i = 0; i < count; ++i)
            input ? onOLUTIShaper(i, c.u16()) : onOLUTOShaper(i, c.u16());
        return true;
    }
    case Key::BadPixels: {
        const std::size_t count = entries(6);
        onBadPixelsCount(count);
        for (std::size_t i = 0; i < count; ++i) {
            BadPixel entry;
            entry.word1 = c.u16();
            entry.word2 = c.u16();
            entry.byte1 = c.u8();
            entry.byte2 = c.u8();
            onBadPixel(i, entry);
        }
        return true;
    }
    case Key::CalMeshCorr: {
        MeshCorr mesh;
        mesh.name = c.lengthPrefixedText();
        mesh.width = c.u32();
        mesh.height = c.u32();
        for (auto& word : mesh.words)
            word = c.u32();
        for (unsigned ch = 0; ch < c5 && !c.overrun(); ++ch) {
            if (c.u8() != 1)
                continue;
            // The samples must be in the payload before any memory is taken for them.
            if (mesh.height != 0 && mesh.width > c.remaining() / 2 / mesh.height)
                return false;
            auto& values = mesh.channels[ch];
            values.resize(std::size_t(mesh.width) * mesh.height);
            for (auto& v : values)
                v = c.u16();
        }
        if (c.overrun())
            return false;
        onCalMeshCorr(std::move(mesh));
        return true;
    }
    case Key::CalSet: {
        const unsigned set = c.u16();
        if (c.overrun())
            return false;
        const std::uint64_t mask = setBit(set);
        const bool first = (setsSeen_ & mask) == 0;
        setsSeen_ |= mask;
        onCalSet(mask, first);
        if (verbose_)
            std::printf("Set: %u/%s, first: %d\n", set, setName(set), int(first));
        return true;
    }
    default:
        return false;
    }
}

bool Read::readBytes(void* into, std::size_t count)
{
    auto* bytes = static_cast<unsigned char*>(into);
    in_.read(reinterpret_cast<char*>(bytes), std::streamsize(count));
    const auto got = std::size_t(std::max<std::streamsize>(in_.gcount(), 0));
    crc32Update(crc_, bytes, got);
    position_ += got;
    if (got == count)
        return true;
    std::memset(bytes + got, 0, count - got);
    markEof();
    return false;
}

bool Read::readPayload(std::uint32_t length, std::vector<std::uint8_t>& into)
{
    into.clear();
    std::size_t left = length;
    while (left > 0) {
        const std::size_t piece = std::min(left, kChunk);
        const std::size_t at = into.size();
        into.resize(at + piece);
        if (!readBytes(into.data() + at, piece)) {
            into.resize(at + std::size_t(std::max<std::streamsize>(in_.gcount(), 0)));
            return false;
        }
        left -= piece;
    }
    return true;
}

bool Read::skip(std::uint64_t count)
{
    std::array<unsigned char, 4096> scratch;
    while (count > 0) {
        const std::size_t piece = std::size_t(std::min<std::uint64_t>(count, scratch.size()));
        if (!readBytes(scratch.data(), piece))
            return false;
        count -= piece;
    }
    return true;
}

std::uint8_t Read::u8()
{
    std::uint8_t b[1];
    readBytes(b, 1);
    return b[0];
}

std::uint16_t Read::u16()
{
    std::uint8_t b[2];
    readBytes(b, 2);
    return loadBig16(b);
}

std::uint32_t Read::u32()
{
    std::uint8_t b[4];
    readBytes(b, 4);
    return loadBig32(b);
}

void Read::markEof()
{
    eof_ = true;
    if (!eofReported_) {
        eofReported_ = true;
        report(Severity::Error, kLineEof, "EOF\n");
    }
}

} // namespace CorvaneCal
