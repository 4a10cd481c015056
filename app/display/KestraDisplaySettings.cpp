#include "display/KestraDisplaySettings.h"

#include "display/KestraJsonWriter.h"

#include <string_view>

namespace {

// The output adjustment the program leaves neutral.
constexpr qint64 kNeutralGamma = 1;
constexpr qint64 kNeutralOffset = 0;
constexpr qint64 kNeutralSaturation = 1;
// Room for the text, which takes about 400 bytes.
constexpr std::size_t kBodySize = 512;

// An "r", "g", "b" group, in the order Qt keeps its keys.
void rgbMembers(KestraJsonWriter& json, std::string_view key, double r, double g, double b)
{
    json.openObject(key).number("b", b).number("g", g).number("r", r).closeObject();
}

void rgbMembers(KestraJsonWriter& json, std::string_view key, qint64 same)
{
    json.openObject(key).integer("b", same).integer("g", same).integer("r", same).closeObject();
}

} // namespace

const std::string& KestraDisplaySettings::body(const Values& values)
{
    if (m_written != values) {
        m_body = write(values);
        m_written = values;
    }
    return m_body;
}

std::string KestraDisplaySettings::write(const Values& values)
{
    // Members in the order Qt keeps its keys.
    KestraJsonWriter json(kBodySize);
    json.openObject().openObject("dev").openObject("display");
    json.number("brightness", values.brightness).integer("cct", qint64(values.cct));
    rgbMembers(json, "gains", values.gainRed, values.gainGreen, values.gainBlue);
    json.number("gamma", values.gamma);
    json.openObject("out").openObject("adjust").boolean("enabled", true);
    rgbMembers(json, "gain", values.red, values.green, values.blue);
    rgbMembers(json, "gamma", kNeutralGamma);
    json.boolean("legacy", false);
    rgbMembers(json, "lift", kNeutralOffset);
    rgbMembers(json, "offset", kNeutralOffset);
    json.integer("saturation", kNeutralSaturation).closeObject(); // adjust
    json.openObject("curves").boolean("enabled", values.curvesEnabled).closeObject();
    json.closeObject().closeObject(); // out, display
    json.openObject("ingest").openObject("testPattern").boolean("enabled", values.testPatternEnabled);
    json.string("type", "white").closeObject().closeObject(); // testPattern, ingest
    json.closeObject().closeObject(); // dev, the document
    return json.take();
}
