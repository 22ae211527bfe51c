// The scene in front of the simulated camera: radial distance and reflectance per pixel.
#pragma once

#include <vector>

#include "sim/settings.h"

namespace Zelvo::sim {

// Pinhole camera looking along +z (x right, y down), horizontal field of view in degrees.
constexpr double kHorizontalFieldOfViewDeg = 70.0;

struct SceneImage {
    int width = 0;
    int height = 0;
    std::vector<float> distanceMm;   // along the pixel's ray, from the camera
    std::vector<float> reflectance;  // albedo times the cosine of the incidence angle
};

class Scene {
public:
    explicit Scene(const SceneSettings& settings) : settings_(settings) {}

    void render(int width, int height, SceneImage& image) const;

    // Nearest hit along a unit ray: distance in mm and reflectance; false for no hit.
    bool trace(const double ray[3], double& distance, double& reflectance) const;

private:

    SceneSettings settings_;
};

}  // namespace Zelvo::sim
