// Camera features this build does not have yet: each says so in the status line and changes
// nothing else, so the interface's buttons fail clearly.
#include "shell/Velotrimmer.h"

void Velotrimmer::runMeshRegistration()
{
    setStatusString(QStringLiteral("Mesh registration is not available in this build."));
}
