#include "operations/FeatherOperation.h"

#include "operations/JsonFields.h"

Operation::Type FeatherOperation::type() const
{
    return Type::Feather;
}

void FeatherOperation::process(Cal::Data& data) const
{
    data.feather(moduleWidth(), moduleHeight(), edgeWidth_, edgeHeight_, float(rFactor_), float(gFactor_),
                 float(bFactor_));
}

bool FeatherOperation::load(const json& object)
{
    using namespace JsonFields;
    loadModuleSize(object);
    edgeWidth_ = toInt(required(object, "edgeWidth"));
    edgeHeight_ = toInt(required(object, "edgeHeight"));
    rFactor_ = toDouble(required(object, "rFactor"));
    gFactor_ = toDouble(required(object, "gFactor"));
    bFactor_ = toDouble(required(object, "bFactor"));
    return true;
}

Operation::json FeatherOperation::save() const
{
    json object = typed();
    saveModuleSize(object);
    object["edgeWidth"] = edgeWidth_;
    object["edgeHeight"] = edgeHeight_;
    object["rFactor"] = rFactor_;
    object["gFactor"] = gFactor_;
    object["bFactor"] = bFactor_;
    return object;
}
