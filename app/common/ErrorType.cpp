#include "common/ErrorType.h"

void ErrorType::registerMetaType()
{
    qRegisterMetaType<ErrorType>("ErrorType");
}
