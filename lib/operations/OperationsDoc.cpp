#include "operations/OperationsDoc.h"

#include "operations/AdjustOperation.h"
#include "operations/FeatherOperation.h"
#include "operations/GradientOperation.h"
#include "operations/JsonFields.h"
#include "operations/NullOperation.h"
#include "operations/ScaleOperation.h"

namespace {

// A new operation of the given saved type with its defaults; null for a type of no operation.
std::unique_ptr<Operation> makeOperation(int type)
{
    switch (Operation::Type(type)) {
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

std::string folder(const OperationsDoc::json& document, const char* key)
{
    const OperationsDoc::json* value = JsonFields::optional(document, key);
    return value ? value->get<std::string>() : std::string();
}

} // namespace

bool OperationsDoc::load(const json& document)
{
    inputFolder = folder(document, "inputFolder");
    outputFolder = folder(document, "outputFolder");
    operations.clear();
    for (const json& element : JsonFields::required(document, "operations")) {
        const int type = element.is_null() ? int(Operation::Type::Null)
                                           : JsonFields::toInt(JsonFields::required(element, "type"));
        std::unique_ptr<Operation> operation = makeOperation(type);
        if (!operation)
            continue;
        operation->load(element);
        operations.push_back(std::move(operation));
    }
    return true;
}

OperationsDoc::json OperationsDoc::save() const
{
    json document{{"inputFolder", inputFolder}, {"outputFolder", outputFolder}, {"operations", json::array()}};
    json& list = document["operations"];
    for (const auto& operation : operations)
        list.push_back(operation->save());
    return document;
}
