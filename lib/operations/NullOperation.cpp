#include "operations/NullOperation.h"

Operation::Type NullOperation::type() const
{
    return Type::Null;
}

void NullOperation::process(Cal::Data&) const {}

bool NullOperation::load(const json&)
{
    return false;
}

Operation::json NullOperation::save() const
{
    return nullptr;
}
