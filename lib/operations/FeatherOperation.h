#pragma once

#include "operations/Operation.h"

// Dims the edges of every module towards a floor per colour: an edge cell gets the factor
// itself, and the factor rises linearly to 1 over `edgeWidth` (or `edgeHeight`) cells.
class TESSELLA_EXPORT FeatherOperation : public Operation {
public:
    static constexpr int kDefaultEdge = 10;

    Type type() const override;
    void process(Cal::Data& data) const override;
    // Module and edge sizes and the three factors, all required.
    bool load(const json& object) override;
    json save() const override;

    int edgeWidth() const { return edgeWidth_; }
    int edgeHeight() const { return edgeHeight_; }
    double Rfactor() const { return rFactor_; }
    double Gfactor() const { return gFactor_; }
    double Bfactor() const { return bFactor_; }
    void setEdgeWidth(int width) { edgeWidth_ = width; }
    void setEdgeHeight(int height) { edgeHeight_ = height; }
    void setRfactor(double factor) { rFactor_ = factor; }
    void setGfactor(double factor) { gFactor_ = factor; }
    void setBfactor(double factor) { bFactor_ = factor; }

private:
    int edgeWidth_ = kDefaultEdge;
    int edgeHeight_ = kDefaultEdge;
    double rFactor_ = 1.0;
    double gFactor_ = 1.0;
    double bFactor_ = 1.0;
};
