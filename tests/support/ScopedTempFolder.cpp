#include "support/ScopedTempFolder.h"

ScopedTempFolder::ScopedTempFolder(const char* variable)
    : m_variable(variable)
    , m_hadPrevious(qEnvironmentVariableIsSet(variable))
    , m_previous(qgetenv(variable))
{
    qputenv(m_variable, m_folder.path().toLocal8Bit());
}

ScopedTempFolder::~ScopedTempFolder()
{
    if (m_hadPrevious)
        qputenv(m_variable, m_previous);
    else
        qunsetenv(m_variable);
}
