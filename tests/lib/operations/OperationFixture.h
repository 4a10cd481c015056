#pragma once

#include "formats/CalData.h"
#include "operations/AdjustOperation.h"
#include "operations/FeatherOperation.h"
#include "operations/GradientOperation.h"
#include "operations/NullOperation.h"
#include "operations/ScaleOperation.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace OperationFixture {

using json = nlohmann::json;

// 4 x 4 cells, three channels, every reading (0.3, 0.3, Y = 1), modules of 2 x 2.
inline Cal::Data tinyData()
{
    Cal::Data data;
    for (int channel = 0; channel < 3; ++channel)
        data.addChannel(Vector2D<Cal::EmitterReading>(4, 4, Cal::EmitterReading{0.3f, 0.3f, 1.0f, 0.0f}));
    data.moduleWidth = 2;
    data.moduleHeight = 2;
    return data;
}

// A default operation of a saved type, as a caller that dispatches on "type" builds one.
inline std::unique_ptr<Operation> blank(Operation::Type type)
{
    switch (type) {
    case Operation::Type::Feather:
        return std::make_unique<FeatherOperation>();
    case Operation::Type::Gradient:
        return std::make_unique<GradientOperation>();
    case Operation::Type::Scale:
        return std::make_unique<ScaleOperation>();
    case Operation::Type::Adjust:
        return std::make_unique<AdjustOperation>();
    case Operation::Type::Null:
        return std::make_unique<NullOperation>();
    }
    return nullptr;
}

// Valid objects of each kind, every required key present.
inline json adjustObject()
{
    return json::parse(R"({"type":4,"rFactor":0.5,"gFactor":2,"bFactor":0.25})");
}

inline json featherObject()
{
    return json::parse(R"({"type":0,"moduleWidth":4,"moduleHeight":4,"edgeWidth":2,"edgeHeight":0,
                           "rFactor":0.5,"gFactor":0.25,"bFactor":1})");
}

inline json gradientObject()
{
    return json::parse(R"({"type":1,"moduleWidth":4,"moduleHeight":4,"edgeWidth":1,"edgeHeight":0,
                           "vertical":false,"rFactorBegin":1,"rFactorEnd":0.5,"gFactorBegin":2,
                           "gFactorEnd":4,"bFactorBegin":1,"bFactorEnd":1})");
}

inline json scaleObject()
{
    return json::parse(R"({"type":3,"id":"wall","points":[[[2]],[[3]],[[5]]],"spread":0.5,
                           "win_x":0.25,"win_y":0.5,"win_w":2,"win_h":3})");
}

} // namespace OperationFixture
