#pragma once

#include "operations/Operation.h"

// Scales the luminance of every emitter by one red, one green and one blue factor. Its module
// size takes no part: it is neither read nor written.
class TESSELLA_EXPORT AdjustOperation : public Operation {
public:
    Type type() const override;
    void process(Cal::Data& data) const override;
    // "rFactor", "gFactor" and "bFactor", all required.
    bool load(const json& object) override;
    json save() const override;

private:
    double rFactor_ = 1.0;
    double gFactor_ = 1.0;
    double bFactor_ = 1.0;
};
