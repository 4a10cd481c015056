#include "operations/AdjustOperation.h"
#include "operations/FeatherOperation.h"
#include "operations/GradientOperation.h"
#include "operations/NullOperation.h"
#include "operations/OperationsDoc.h"
#include "operations/ScaleOperation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using json = nlohmann::json;

// 4 x 4 cells of three channels, module 2 x 2: every operation is applied to it.
Cal::Data fixture()
{
    Cal::Data data;
    for (int channel = 0; channel < 3; ++channel)
        data.addChannel(Vector2D<Cal::EmitterReading>(4, 4, Cal::EmitterReading{0.3f, 0.3f, 1.0f, 0.0f}));
    data.moduleWidth = 2;
    data.moduleHeight = 2;
    return data;
}

void apply(const Operation& operation)
{
    Cal::Data data = fixture();
    operation.process(data);
}

// Loads one operation of each kind from the value; only the JSON library's exceptions may leave
// `load`, and whatever was loaded, even in part, saves, loads again to the same text and applies.
template <typename T>
void oneOperation(const json& value)
{
    T operation;
    try {
        operation.load(value);
    } catch (const json::exception&) {
    }
    const std::string saved = operation.save().dump();
    T again;
    again.load(json::parse(saved));
    if (again.save().dump() != saved)
        std::abort();
    apply(operation);
}

} // namespace

// Any bytes that parse as JSON, as an operations document and as each kind of operation.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const json value = json::parse(data, data + size, nullptr, false);
    if (value.is_discarded())
        return 0;

    OperationsDoc document;
    try {
        document.load(value);
    } catch (const json::exception&) {
    }
    const std::string saved = document.save().dump();
    OperationsDoc again;
    again.load(json::parse(saved));
    if (again.save().dump() != saved)
        std::abort();
    for (const auto& operation : again.operations)
        apply(*operation);

    oneOperation<AdjustOperation>(value);
    oneOperation<FeatherOperation>(value);
    oneOperation<GradientOperation>(value);
    oneOperation<ScaleOperation>(value);
    oneOperation<NullOperation>(value);
    return 0;
}
