#include "support/ScopedTempFolder.h"

ScopedTempFolder::ScopedTempFolder()
    : m_hadPrevious(qEnvironmentVariableIsSet("TMPDIR"))
    , m_previous(qgetenv("TMPDIR"))
{
    qputenv("TMPDIR", m_folder.path().toLocal8Bit());
}

ScopedTempFolder::~ScopedTempFolder()
{
    if (m_hadPrevious)
        qputenv("TMPDIR", m_previous);
    else
        qunsetenv("TMPDIR");
}
