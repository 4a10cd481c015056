#pragma once

#include "operations/Operation.h"

#include <string>
#include <vector>

// Multiplies the luminance of the red, green and blue channels by a measured correction mesh
// of any resolution, interpolated over the data. The mesh holds one grid per channel; a
// channel without a grid of its own uses grid 0, so one grid applies to all three.
class TESSELLA_EXPORT ScaleOperation : public Operation {
public:
    Type type() const override;
    // With no grid at all the data stays unchanged and a message goes to the standard error.
    void process(Cal::Data& data) const override;
    // One grid from "template", or one per entry of "points" (required without "template"; a
    // null entry is a grid without rows); "spread" required; "id" and the window optional.
    bool load(const json& object) override;
    // A one-grid mesh saves as "template" without id and window; any other as "points".
    json save() const override;

    const std::string& id() const { return id_; }
    // The grid of one channel; an index without a grid gives an empty grid.
    const Vector2D<float>& mesh(std::size_t channel) const;
    std::size_t channels() const { return mesh_.size(); }
    float blend() const { return blend_; }
    // x, y, w, h.
    std::vector<float> win() const { return {x_, y_, w_, h_}; }
    void setId(std::string id) { id_ = std::move(id); }
    // Grows the mesh with empty grids up to `channel` where needed, then stores the grid there.
    void setMesh(std::size_t channel, const Vector2D<float>& grid);
    void setBlend(float blend) { blend_ = blend; }
    void setWin(float x, float y, float w, float h);

private:
    std::string id_;
    std::vector<Vector2D<float>> mesh_;
    float blend_ = 0.0f;
    float x_ = 0.0f;
    float y_ = 0.0f;
    float w_ = 0.0f;
    float h_ = 0.0f;
};
