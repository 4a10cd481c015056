#include "display/KestraGainsDocument.h"

#include "display/KestraJsonWriter.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace {

// Room to reserve for the text: the frame, each receiver's name and "ldms", and each LDM's index
// with four gains in their longest usual form.
constexpr std::size_t kFrameBytes = 32;
constexpr std::size_t kBytesPerReceiver = 48;
constexpr std::size_t kBytesPerLdm = 120;

} // namespace

void KestraGainsDocument::reserve(qsizetype ldms)
{
    m_entries.reserve(std::size_t(std::max<qsizetype>(ldms, 0)));
}

qsizetype KestraGainsDocument::receiverOf(const QString& name)
{
    // LDMs come mostly tile by tile: the receiver of the entry before is the likeliest.
    if (!m_entries.empty() && m_receivers.at(m_entries.back().receiver) == name)
        return m_entries.back().receiver;
    const auto found = m_receiverIndex.constFind(name);
    if (found != m_receiverIndex.cend())
        return found.value();
    m_receivers.append(name);
    m_receiverIndex.insert(name, m_receivers.size() - 1);
    return m_receivers.size() - 1;
}

void KestraGainsDocument::add(const Macropixel& ldm)
{
    Entry entry;
    entry.receiver = receiverOf(ldm.name);
    const auto written = std::to_chars(entry.index.data(), entry.index.data() + entry.index.size(),
                                       qint32(ldm.indexInTile));
    entry.indexLength = static_cast<unsigned char>(written.ptr - entry.index.data());
    entry.red = ldm.redGain;
    entry.green = ldm.greenGain;
    entry.blue = ldm.blueGain;
    entry.intensity = ldm.intensityGain;
    m_entries.push_back(entry);
}

std::string KestraGainsDocument::text() const
{
    // Receivers in QJsonObject's order of keys, which is QString's.
    std::vector<qsizetype> byName(std::size_t(m_receivers.size()));
    std::iota(byName.begin(), byName.end(), qsizetype(0));
    std::sort(byName.begin(), byName.end(),
              [this](qsizetype a, qsizetype b) { return m_receivers.at(a) < m_receivers.at(b); });
    std::vector<qsizetype> rank(byName.size());
    for (std::size_t i = 0; i < byName.size(); ++i)
        rank[std::size_t(byName[i])] = qsizetype(i);

    // Then each receiver's LDMs by their index as text; one LDM's entries keep the order added.
    std::vector<const Entry*> sorted;
    sorted.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        sorted.push_back(&entry);
    std::stable_sort(sorted.begin(), sorted.end(), [&rank](const Entry* a, const Entry* b) {
        const qsizetype rankA = rank[std::size_t(a->receiver)];
        const qsizetype rankB = rank[std::size_t(b->receiver)];
        return rankA != rankB ? rankA < rankB : a->indexText() < b->indexText();
    });
    const auto sameLdm = [](const Entry* a, const Entry* b) {
        return a->receiver == b->receiver && a->indexText() == b->indexText();
    };

    KestraJsonWriter json(kFrameBytes + std::size_t(m_receivers.size()) * kBytesPerReceiver
                          + m_entries.size() * kBytesPerLdm);
    json.openObject().openObject("dev").openObject("receivers");
    const Entry* receiverOpen = nullptr;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const Entry* entry = sorted[i];
        if (i + 1 < sorted.size() && sameLdm(entry, sorted[i + 1]))
            continue; // the later entry of the same LDM holds the gains sent
        if (!receiverOpen || receiverOpen->receiver != entry->receiver) {
            if (receiverOpen)
                json.closeObject().closeObject();
            json.openObject(QStringView(m_receivers.at(entry->receiver))).openObject("ldms");
            receiverOpen = entry;
        }
        json.openObject(entry->indexText())
            .openObject("gains")
            .number("b", entry->blue)
            .number("g", entry->green)
            .number("i", entry->intensity)
            .number("r", entry->red)
            .closeObject()
            .closeObject();
    }
    if (receiverOpen)
        json.closeObject().closeObject();
    json.closeObject().closeObject().closeObject();
    return json.take();
}
