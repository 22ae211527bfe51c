#include "sim/scene.h"

#include <cmath>
#include <limits>

namespace Zelvo::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Room geometry in mm, camera at the origin.
constexpr double kFloorY = 800.0;        // camera height above the floor
constexpr double kBackWallZ = 3000.0;
constexpr double kBoxMin[3] = {-750.0, 250.0, 1700.0};
constexpr double kBoxMax[3] = {-250.0, kFloorY, 2200.0};
constexpr double kSphereCentre[3] = {450.0, kFloorY - 280.0, 2000.0};
constexpr double kSphereRadius = 280.0;

constexpr double kWallAlbedo = 0.8;
constexpr double kFloorAlbedo = 0.5;
constexpr double kBoxAlbedo = 0.6;
constexpr double kSphereAlbedo = 0.9;

struct Hit {
    double distance = std::numeric_limits<double>::infinity();
    double reflectance = 0.0;

    void offer(double t, double albedo, double cosine) {
        if (t > 0.0 && t < distance) {
            distance = t;
            reflectance = albedo * std::fabs(cosine);
        }
    }
};

// Plane with unit normal n through the points where n . p = offset.
void hitPlane(const double ray[3], const double n[3], double offset, double albedo, Hit& hit) {
    double denominator = ray[0] * n[0] + ray[1] * n[1] + ray[2] * n[2];
    if (std::fabs(denominator) < 1e-9) return;
    hit.offer(offset / denominator, albedo, denominator);
}

void hitBox(const double ray[3], Hit& hit) {
    double near = 0.0, far = std::numeric_limits<double>::infinity();
    int nearAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(ray[axis]) < 1e-12) {
            if (0.0 < kBoxMin[axis] || 0.0 > kBoxMax[axis]) return;
            continue;
        }
        double t0 = kBoxMin[axis] / ray[axis], t1 = kBoxMax[axis] / ray[axis];
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > near) {
            near = t0;
            nearAxis = axis;
        }
        far = std::min(far, t1);
        if (near > far) return;
    }
    if (nearAxis < 0) return;
    hit.offer(near, kBoxAlbedo, ray[nearAxis]);
}

void hitSphere(const double ray[3], Hit& hit) {
    const double* c = kSphereCentre;
    double b = ray[0] * c[0] + ray[1] * c[1] + ray[2] * c[2];
    double cc = c[0] * c[0] + c[1] * c[1] + c[2] * c[2] - kSphereRadius * kSphereRadius;
    double discriminant = b * b - cc;
    if (discriminant < 0.0) return;
    double t = b - std::sqrt(discriminant);
    double normal[3];
    for (int i = 0; i < 3; ++i) normal[i] = (ray[i] * t - c[i]) / kSphereRadius;
    hit.offer(t, kSphereAlbedo, ray[0] * normal[0] + ray[1] * normal[1] + ray[2] * normal[2]);
}

}  // namespace

bool Scene::trace(const double ray[3], double& distance, double& reflectance) const {
    Hit hit;
    static const double kFacing[3] = {0.0, 0.0, 1.0};
    if (settings_.kind == SceneSettings::Kind::Wall) {
        hitPlane(ray, kFacing, settings_.wallDistanceMm, kWallAlbedo, hit);
    } else {
        static const double kUp[3] = {0.0, 1.0, 0.0};
        hitPlane(ray, kFacing, kBackWallZ, kWallAlbedo, hit);
        hitPlane(ray, kUp, kFloorY, kFloorAlbedo, hit);
        hitBox(ray, hit);
        hitSphere(ray, hit);
    }
    if (!std::isfinite(hit.distance)) return false;
    distance = hit.distance;
    reflectance = hit.reflectance;
    return true;
}

void Scene::render(int width, int height, SceneImage& image) const {
    image.width = width;
    image.height = height;
    image.distanceMm.assign(static_cast<size_t>(width) * height, 0.0f);
    image.reflectance.assign(static_cast<size_t>(width) * height, 0.0f);
    const double focal = (width / 2.0) / std::tan(kHorizontalFieldOfViewDeg * kPi / 360.0);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            double ray[3] = {(column - cx) / focal, (row - cy) / focal, 1.0};
            double norm = std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + 1.0);
            for (double& component : ray) component /= norm;
            double distance = 0.0, reflectance = 0.0;
            if (!trace(ray, distance, reflectance)) continue;
            size_t index = static_cast<size_t>(row) * width + column;
            image.distanceMm[index] = static_cast<float>(distance);
            image.reflectance[index] = static_cast<float>(reflectance);
        }
    }
}

}  // namespace Zelvo::sim
