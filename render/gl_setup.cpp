#include "render/gl_setup.h"

#include <GL/gl.h>
#include <cmath>

#include "platform/vrak.h"

static struct {
    double near_plane = 0.5;
    double far_plane = 4000;
} proj;

static const char *gl_string(GLenum name)
{
    const GLubyte *s = glGetString(name);
    return s ? (const char *)s : "NULL";
}

void probe_gl_capabilities()
{
    vrak_log("GL_VENDOR: %s\n", gl_string(GL_VENDOR));
    vrak_log("GL_RENDERER: %s\n", gl_string(GL_RENDERER));
    vrak_log("GL_VERSION: %s\n", gl_string(GL_VERSION));
    vrak_log("GL_EXTENSIONS: %s\n", gl_string(GL_EXTENSIONS));
}

void set_start_gl_state(bool flat_shading)
{
    glClearColor(0.196f, 0.6f, 0.8f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_CULL_FACE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (flat_shading)
        glShadeModel(GL_FLAT);
    glFogi(GL_FOG_MODE, GL_EXP);
}

void set_depth_range(double near_plane, double far_plane)
{
    proj.near_plane = near_plane;
    proj.far_plane = far_plane;
}

void set_projection(int width, int height, double fov_degrees)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (width > 0 && height > 0) {
        double half = fov_degrees * M_PI / 360.0;
        double aspect = (double)width / height;
        double h, v;
        if (aspect > 4.0 / 3.0) {
            v = tan(half) * 0.75;
            h = aspect * v;
        } else {
            h = tan(half);
            v = h * height / width;
        }
        double n = proj.near_plane;
        glFrustum(-h * n, h * n, -v * n, v * n, n, proj.far_plane);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void read_frame_rgb(int width, int height, unsigned char *pixels)
{
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
}

void clear_frame(float r, float g, float b)
{
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_ALPHA_TEST);
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void gl_finish()
{
    glFinish();
}
