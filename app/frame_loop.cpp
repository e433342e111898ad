#include "app/frame_loop.h"

#include <GL/freeglut.h>

#include "app/frame_step.h"
#include "scene/scene.h"

namespace {

std::int32_t glut_elapsed_ms() { return glutGet(GLUT_ELAPSED_TIME); }

// No raster position, viewport or clear is ever set: the picture's
// lower-left corner sits at the window's, row 0 at the bottom.
void draw_and_swap(const unsigned int* pixels) {
  glDrawPixels(kFrameWidth, kFrameHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  glutSwapBuffers();
}

void set_title(const char* title) { glutSetWindowTitle(title); }

constexpr FrameWindow kGlutWindow = {glut_elapsed_ms, draw_and_swap, set_title};

FrameRateWindow rate_window;

}  // namespace

void display() { run_frame(rate_window, kGlutWindow); }

void idle() { glutPostRedisplay(); }
