#pragma once

#include "operations/Operation.h"

// The operation that does nothing; it saves as a JSON null.
class TESSELLA_EXPORT NullOperation : public Operation {
public:
    Type type() const override;
    void process(Cal::Data& data) const override;
    // Reads nothing and returns false.
    bool load(const json& object) override;
    json save() const override;
};
