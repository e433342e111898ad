// Velmora: one 640 x 480 window, redrawn as fast as the machine allows.
//
// main creates the centred window, installs the callbacks, sets up the
// scene and hands over to the GLUT main loop.  When the window is closed the
// loop returns: the GPU context is released and, unless the program was
// started with the noprompt flag, it waits for ENTER before it exits.
#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

#include "app/frame_loop.h"
#include "app/frame_step.h"
#include "app/window_position.h"
#include "cutil/cutil.h"
#include "rtlib/rtlib.h"
#include "scene/scene.h"

namespace {

// Keys, mouse and resizing change nothing.  The reshape callback leaves the
// viewport alone, so the picture keeps its size at the lower-left corner.
void keyboard(unsigned char, int, int) {}
void special_key(int, int, int) {}
void reshape(int, int) {}
void mouse_button(int, int, int, int) {}
void mouse_drag(int, int) {}

}  // namespace

int main(int argc, char** argv) {
  // freeglut wants its initialisation before the screen size can be read
  // and before its options are set; it sees no arguments, so every flag is
  // left for the noprompt test below.
  int glut_argc = 1;
  char* glut_argv[] = {argv[0], nullptr};
  glutInit(&glut_argc, glut_argv);
  // Closing the window ends the main loop instead of the process, so the
  // release, the prompt and exit code 0 follow a close.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);

  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
  glutInitWindowSize(kFrameWidth, kFrameHeight);
  const int screen_height = glutGet(GLUT_SCREEN_HEIGHT);
  const int screen_width = glutGet(GLUT_SCREEN_WIDTH);
  const WindowPosition position =
      centred_window_position(screen_width, screen_height, kFrameWidth, kFrameHeight);
  glutInitWindowPosition(position.x, position.y);
  glutCreateWindow("VELMORA");

  glutDisplayFunc(display);
  glutKeyboardFunc(keyboard);
  glutSpecialFunc(special_key);
  glutReshapeFunc(reshape);
  glutMouseFunc(mouse_button);
  glutMotionFunc(mouse_drag);
  glutIdleFunc(idle);

  init_scene();
  glutMainLoop();
  gpu_release();

  if (!cutCheckCmdLineFlag(argc, argv, "noprompt")) {
    std::printf("\nPress ENTER to exit...\n");
    std::fflush(stdout);
    std::fflush(stderr);
    std::getchar();
  }
  std::exit(0);
}
