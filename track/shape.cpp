// The ".shp" reader and the cache that shares each parsed file between its users
// (statues of the track, the parts of every bike).
#include "track/shape.h"

#include <cmath>
#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "platform/vrak.h"

enum {
    // A bike part has a handful of spheres; a file claiming more is taken as corrupt
    // rather than read for minutes.
    SHAPE_MAX_SPHERES = 4096,
};

static struct {
    std::vector<Shape *> loaded;    // every shape with references > 0
} shapes;

static bool finite3(const float v[3])
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// A ".shp" file is whitespace-separated text:
//   n                      sphere count ("%d")
//   n times:
//     x y z                centre in body coordinates ("%f" three times)
//     radius friction stiffness damping   ("%f %f %f %f")
// Any number that cannot be read discards the whole shape. Negative counts,
// negative radii and values that are not finite are rejected the same way, since
// the contact code would turn them into NaN forces.
static Shape *parse_shape(DataFile *file, const char *name)
{
    int count = 0;
    if (data_scanf(file, "%d", &count) != 1 || count < 0 || count > SHAPE_MAX_SPHERES)
        return nullptr;

    Shape *shape = new Shape();
    shape->name = intern_string(name);
    shape->bounding_radius = 0;
    shape->references = 0;
    for (int i = 0; i < count; i++) {
        ShapeSphere s;
        if (data_scanf(file, "%f %f %f", &s.centre[0], &s.centre[1], &s.centre[2]) != 3 ||
            data_scanf(file, "%f %f %f %f", &s.radius, &s.friction, &s.stiffness,
                       &s.damping) != 4 ||
            !finite3(s.centre) || !std::isfinite(s.radius) || !std::isfinite(s.friction) ||
            !std::isfinite(s.stiffness) || !std::isfinite(s.damping) || s.radius < 0) {
            delete shape;
            return nullptr;
        }
        shape->spheres.push_back(s);
        float reach = std::sqrt(s.centre[0] * s.centre[0] + s.centre[1] * s.centre[1] +
                                s.centre[2] * s.centre[2]) + s.radius;
        if (reach > shape->bounding_radius)
            shape->bounding_radius = reach;
    }
    return shape;
}

Shape *load_shape(const char *name)
{
    if (!name || !name[0])
        return nullptr;
    for (Shape *s : shapes.loaded) {
        if (strcmp(s->name, name) == 0) {
            s->references++;
            return s;
        }
    }
    DataFile *file = data_open(name, "rb");
    if (!file)
        return nullptr;
    Shape *shape = parse_shape(file, name);
    data_close(file);
    if (!shape) {
        vrak_log("Bad shape file %.900s\n", name);
        return nullptr;
    }
    shape->references = 1;
    shapes.loaded.push_back(shape);
    return shape;
}

void free_shape(Shape *s)
{
    if (!s || --s->references > 0)
        return;
    for (size_t i = 0; i < shapes.loaded.size(); i++) {
        if (shapes.loaded[i] == s) {
            shapes.loaded.erase(shapes.loaded.begin() + i);
            break;
        }
    }
    delete s;
}

float shape_bounding_radius(const Shape *s)
{
    return s ? s->bounding_radius : 0.0f;
}

int shape_cache_count()
{
    return (int)shapes.loaded.size();
}
