#pragma once

#include "operations/Operation.h"

// A linear ramp of each colour's luminance across the inner part of every module (inside its
// edges), left to right or, when vertical, top to bottom.
class TESSELLA_EXPORT GradientOperation : public Operation {
public:
    static constexpr int kDefaultEdge = 10;

    Type type() const override;
    void process(Cal::Data& data) const override;
    // Module and edge sizes, "vertical" (a JSON boolean) and the six factors, all required.
    bool load(const json& object) override;
    json save() const override;

    int edgeWidth() const { return edgeWidth_; }
    int edgeHeight() const { return edgeHeight_; }
    bool vertical() const { return vertical_; }
    double RfactorBegin() const { return rFactorBegin_; }
    double RfactorEnd() const { return rFactorEnd_; }
    double GfactorBegin() const { return gFactorBegin_; }
    double GfactorEnd() const { return gFactorEnd_; }
    double BfactorBegin() const { return bFactorBegin_; }
    double BfactorEnd() const { return bFactorEnd_; }
    void setEdgeWidth(int width) { edgeWidth_ = width; }
    void setEdgeHeight(int height) { edgeHeight_ = height; }
    void setVertical(bool vertical) { vertical_ = vertical; }
    void setRfactorBegin(double factor) { rFactorBegin_ = factor; }
    void setRfactorEnd(double factor) { rFactorEnd_ = factor; }
    void setGfactorBegin(double factor) { gFactorBegin_ = factor; }
    void setGfactorEnd(double factor) { gFactorEnd_ = factor; }
    void setBfactorBegin(double factor) { bFactorBegin_ = factor; }
    void setBfactorEnd(double factor) { bFactorEnd_ = factor; }

private:
    int edgeWidth_ = kDefaultEdge;
    int edgeHeight_ = kDefaultEdge;
    bool vertical_ = false;
    double rFactorBegin_ = 1.0;
    double rFactorEnd_ = 1.0;
    double gFactorBegin_ = 1.0;
    double gFactorEnd_ = 1.0;
    double bFactorBegin_ = 1.0;
    double bFactorEnd_ = 1.0;
};
