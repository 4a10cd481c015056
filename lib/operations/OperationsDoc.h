#pragma once

#include "operations/Operation.h"

#include <TessellaExport.h>

#include <memory>
#include <string>
#include <vector>

// An operations document: an input folder, an output folder and an ordered list of
// operations, kept as JSON ("inputFolder", "outputFolder", "operations"). The document owns
// its operations; it can be moved but not copied. Applying the operations is the caller's.
class TESSELLA_EXPORT OperationsDoc {
public:
    using json = nlohmann::json;

    OperationsDoc() = default;
    OperationsDoc(const OperationsDoc&) = delete;
    OperationsDoc& operator=(const OperationsDoc&) = delete;
    OperationsDoc(OperationsDoc&&) noexcept = default;
    OperationsDoc& operator=(OperationsDoc&&) noexcept = default;
    ~OperationsDoc() = default;

    // Replaces the folders and the operations. Elements of a "type" that belongs to no
    // operation are skipped; a null element is a NullOperation (as NullOperation saves).
    // Raises the JSON library's exceptions like Operation::load; the operations loaded before
    // a failure stay listed.
    bool load(const json& document);
    json save() const;

    std::vector<std::unique_ptr<Operation>> operations;
    std::string inputFolder;
    std::string outputFolder;
};
