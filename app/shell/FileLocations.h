#pragma once

#include <QString>

// Where the file dialogs start and which paths a file may be written to. On a fresh account the
// documents folder need not exist, and a kept folder may have gone since: a dialog shown such a
// folder lists some other one, and a save accepted there could write a file in the folder's
// place. A kept folder may also be one of the system's (/proc, /sys, /dev, left by a save that
// failed there): Qt's dialog reads the files it lists to tell their types, and a file there can
// block that read for good (/proc/kmsg). Dialogs therefore start in an ordinary folder the
// operator can write, and no file takes a folder's path, a device's or a system folder's.
class FileLocations
{
public:
    // An ordinary folder the operator can write, ending in "/": the given one when it is one, else
    // the documents folder (created when missing), else the home folder.
    static QString dialogFolder(const QString& folder);

    // Why no file may be written at this path (it names no file, a folder is there or is the one
    // offered for saving, it is no ordinary file, or it lies in a system folder); empty when it may.
    static QString refusal(const QString& path);
};
