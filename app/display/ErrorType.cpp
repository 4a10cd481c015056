#include "display/ErrorType.h"

void ErrorType::registerMetaType()
{
    qRegisterMetaType<ErrorType>("ErrorType");
}
