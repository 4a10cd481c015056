#pragma once

#include <QString>

// Where the file dialogs start and which paths a file may be written to. On a fresh account the
// documents folder need not exist, and a kept folder may have gone since: a dialog shown such a
// folder lists some other one, and a save accepted there could write a file in the folder's
// place. Dialogs therefore start in a folder that exists, and no file takes a folder's path.
class FileLocations
{
public:
    // An existing folder ending in "/": the given one when it exists, else the documents folder
    // (created when missing), else the home folder.
    static QString existingFolder(const QString& folder);

    // Why no file may be written at this path (it names no file, or a folder is there or is the
    // one offered for saving); empty when it may.
    static QString refusal(const QString& path);
};
