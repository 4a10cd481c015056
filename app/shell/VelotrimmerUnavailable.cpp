// Camera features this build does not have yet: each says so in the status line and changes
// nothing else, so the interface's buttons fail clearly.
#include "shell/Velotrimmer.h"

void Velotrimmer::grabImage(bool)
{
    setStatusString(QStringLiteral("Image capture and processing are not available in this build."));
}
