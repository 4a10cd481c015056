#include "operations/GradientOperation.h"

#include "operations/JsonFields.h"

Operation::Type GradientOperation::type() const
{
    return Type::Gradient;
}

void GradientOperation::process(Cal::Data& data) const
{
    data.gradient(moduleWidth(), moduleHeight(), edgeWidth_, edgeHeight_, vertical_, float(rFactorBegin_),
                  float(rFactorEnd_), float(gFactorBegin_), float(gFactorEnd_), float(bFactorBegin_),
                  float(bFactorEnd_));
}

bool GradientOperation::load(const json& object)
{
    using namespace JsonFields;
    loadModuleSize(object);
    edgeWidth_ = toInt(required(object, "edgeWidth"));
    edgeHeight_ = toInt(required(object, "edgeHeight"));
    vertical_ = required(object, "vertical").get<bool>();
    rFactorBegin_ = toDouble(required(object, "rFactorBegin"));
    rFactorEnd_ = toDouble(required(object, "rFactorEnd"));
    gFactorBegin_ = toDouble(required(object, "gFactorBegin"));
    gFactorEnd_ = toDouble(required(object, "gFactorEnd"));
    bFactorBegin_ = toDouble(required(object, "bFactorBegin"));
    bFactorEnd_ = toDouble(required(object, "bFactorEnd"));
    return true;
}

Operation::json GradientOperation::save() const
{
    json object = typed();
    saveModuleSize(object);
    object["edgeWidth"] = edgeWidth_;
    object["edgeHeight"] = edgeHeight_;
    object["vertical"] = vertical_;
    object["rFactorBegin"] = rFactorBegin_;
    object["rFactorEnd"] = rFactorEnd_;
    object["gFactorBegin"] = gFactorBegin_;
    object["gFactorEnd"] = gFactorEnd_;
    object["bFactorBegin"] = bFactorBegin_;
    object["bFactorEnd"] = bFactorEnd_;
    return object;
}
