#pragma once

#include <QString>

// How the names of the lens compensation images read. A file is named
// body_lens_@focal.jpg (or with a focal range @from~to, and maybe a bracketed size after it), for
// instance "ILCE-7C_FE_4^024-070_@050.jpg"; in the names "^" stands for "/" and numbers carry
// leading zeros.
class LensFileNames
{
public:
    // The lens part of a file of the camera body: the parts after the body up to the first that
    // starts with "@", joined with "_"; empty when the file is of another body (compared
    // case-sensitively) or has no lens part.
    static QString lensKey(const QString& fileName, const QString& cameraName);
    // The focal part of a file name: from its last "@" on (the whole name when "@" stands first
    // or nowhere), in display form.
    static QString focalLabel(const QString& fileName);
    // A lens key or focal label as the interface shows it: without the extension, blanks for "_",
    // "/" for "^", up to three leading zeros dropped after "/", "-" and "@", and "mm" after a
    // focal length (before a bracketed size).
    static QString displayForm(QString text);
};
