#pragma once

#include "display/Macropixel.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The body of a PATCH that sets LDM gains: the gains by receiver name, each receiver's LDMs by
// their index within it, {"dev":{"receivers":{name:{"ldms":{index:{"gains":{"b","g","i","r"}}}}}}},
// written as the processor has always received it from Qt's JSON writer (receivers and LDM
// indices in QJsonObject's order, so "10" comes before "2").
//
// A receiver met again later in the list adds to its earlier LDMs; an LDM given twice carries
// the later gains. The gains are copied when added.
class KestraGainsDocument
{
public:
    void reserve(qsizetype ldms);
    void add(const Macropixel& ldm);
    // The JSON text; no LDMs give {"dev":{"receivers":{}}}.
    std::string text() const;

private:
    // The decimal text of the LDM's index (as a signed 32-bit number): "-2147483648" at most.
    static constexpr std::size_t kLongestIndex = 11;

    struct Entry
    {
        qsizetype receiver = 0; // into m_receivers
        std::array<char, kLongestIndex> index{};
        unsigned char indexLength = 0;
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        double intensity = 0.0;

        std::string_view indexText() const { return {index.data(), indexLength}; }
    };

    qsizetype receiverOf(const QString& name);

    QList<QString> m_receivers; // in the order first met
    QHash<QString, qsizetype> m_receiverIndex;
    std::vector<Entry> m_entries; // in the order added
};
