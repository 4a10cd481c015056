#include "operations/ScaleOperation.h"

#include "operations/JsonFields.h"

#include <iostream>

namespace {

// The operation corrects red, green and blue.
constexpr std::size_t kColourChannels = 3;

// A window read without a width or height covers the whole unit square.
constexpr float kDefaultWindowSize = 1.0f;

float floatOr(const Operation::json& object, const char* key, float fallback)
{
    const Operation::json* value = JsonFields::optional(object, key);
    return value ? JsonFields::toFloat(*value) : fallback;
}

} // namespace

Operation::Type ScaleOperation::type() const
{
    return Type::Scale;
}

const Vector2D<float>& ScaleOperation::mesh(std::size_t channel) const
{
    static const Vector2D<float> none;
    return channel < mesh_.size() ? mesh_[channel] : none;
}

void ScaleOperation::setMesh(std::size_t channel, const Vector2D<float>& grid)
{
    if (channel >= mesh_.max_size()) {
        std::cerr << "ScaleOperation::setMesh: invalid channel!" << std::endl;
        return;
    }
    if (channel >= mesh_.size())
        mesh_.resize(channel + 1);
    mesh_[channel] = grid;
}

void ScaleOperation::setWin(float x, float y, float w, float h)
{
    x_ = x;
    y_ = y;
    w_ = w;
    h_ = h;
}

void ScaleOperation::process(Cal::Data& data) const
{
    if (mesh_.empty()) {
        std::cerr << "ScaleOperation::process: no mesh!" << std::endl;
        return;
    }
    for (std::size_t channel = 0; channel < kColourChannels; ++channel)
        data.scale(channel, channel < mesh_.size() ? mesh_[channel] : mesh_.front(), blend_);
}

bool ScaleOperation::load(const json& object)
{
    using namespace JsonFields;
    const json* id = optional(object, "id");
    id_ = id ? id->get<std::string>() : std::string();

    if (const json* grid = optional(object, "template")) {
        mesh_.assign(1, toGrid(*grid));
    } else {
        const json& points = required(object, "points");
        // size() counts what the document holds, so this never outgrows it.
        mesh_.assign(points.size(), {});
        for (std::size_t channel = 0; channel < mesh_.size(); ++channel)
            mesh_[channel] = toGrid(points.at(channel));
    }

    blend_ = toFloat(required(object, "spread"));
    x_ = floatOr(object, "win_x", 0.0f);
    y_ = floatOr(object, "win_y", 0.0f);
    w_ = floatOr(object, "win_w", kDefaultWindowSize);
    h_ = floatOr(object, "win_h", kDefaultWindowSize);
    return true;
}

Operation::json ScaleOperation::save() const
{
    json object = typed();
    if (mesh_.size() == 1) {
        object["template"] = JsonFields::fromGrid(mesh_.front());
    } else {
        object["id"] = id_;
        json points;
        for (const auto& grid : mesh_)
            points.push_back(JsonFields::fromGrid(grid));
        object["points"] = std::move(points);
        object["win_x"] = x_;
        object["win_y"] = y_;
        object["win_w"] = w_;
        object["win_h"] = h_;
    }
    object["spread"] = blend_;
    return object;
}
