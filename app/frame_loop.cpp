#include "app/frame_loop.h"

#include <GL/freeglut.h>

#include "app/frame_rate.h"
#include "gpu/rtlib.h"
#include "scene/animation.h"
#include "scene/scene.h"

namespace {
FrameRateWindow rate_window;

std::int32_t glut_elapsed_ms() { return glutGet(GLUT_ELAPSED_TIME); }
}  // namespace

void display() {
  animate_scene();
  upload_spheres(spheres, 4);
  upload_lights(lights, 2);
  render_frame(pixel_buffer);

  // No raster position, viewport or clear is ever set: the picture's
  // lower-left corner sits at the window's, row 0 at the bottom.
  glDrawPixels(kFrameWidth, kFrameHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixel_buffer);
  glutSwapBuffers();

  if (const auto rate = count_frame(rate_window, glut_elapsed_ms)) {
    fps = rate->fps;
    glutSetWindowTitle(rate->title.data());
  }
}

void idle() { glutPostRedisplay(); }
