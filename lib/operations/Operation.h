#pragma once

#include "formats/CalData.h"

#include <TessellaExport.h>

#include <nlohmann/json.hpp>

// A correction that changes a calibration data set in place and reads itself from and writes
// itself to a JSON object.
//
// `load` raises the JSON library's exceptions (nlohmann::json::exception and its kinds) for a
// value of the wrong type, a missing key or a number that does not fit; the operation keeps the
// fields it had read before the failure. No other exception leaves it.
class TESSELLA_EXPORT Operation {
public:
    using json = nlohmann::json;

    // The "type" of a saved operation; values not listed belong to no operation.
    enum class Type : int {
        Feather = 0,
        Gradient = 1,
        Scale = 3,
        Adjust = 4,
        Null = 7,
    };

    static constexpr int kDefaultModuleWidth = 120;
    static constexpr int kDefaultModuleHeight = 180;

    virtual ~Operation();

    virtual Type type() const = 0;
    virtual void process(Cal::Data& data) const = 0;
    virtual bool load(const json& object) = 0;
    virtual json save() const = 0;

    int moduleWidth() const { return moduleWidth_; }
    int moduleHeight() const { return moduleHeight_; }
    void setModuleWidth(int width) { moduleWidth_ = width; }
    void setModuleHeight(int height) { moduleHeight_ = height; }

protected:
    // Copied only as part of a whole operation, never sliced through a base reference.
    Operation() = default;
    Operation(const Operation&) = default;
    Operation& operator=(const Operation&) = default;

    // An object holding only "type".
    json typed() const;
    // "moduleWidth" and "moduleHeight", both required.
    void loadModuleSize(const json& object);
    void saveModuleSize(json& object) const;

private:
    int moduleWidth_ = kDefaultModuleWidth;
    int moduleHeight_ = kDefaultModuleHeight;
};
