#include "operations/Operation.h"

#include "operations/JsonFields.h"

Operation::~Operation() = default;

Operation::json Operation::typed() const
{
    return json{{"type", int(type())}};
}

void Operation::loadModuleSize(const json& object)
{
    moduleWidth_ = JsonFields::toInt(JsonFields::required(object, "moduleWidth"));
    moduleHeight_ = JsonFields::toInt(JsonFields::required(object, "moduleHeight"));
}

void Operation::saveModuleSize(json& object) const
{
    object["moduleWidth"] = moduleWidth_;
    object["moduleHeight"] = moduleHeight_;
}
