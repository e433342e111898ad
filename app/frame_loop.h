// The frame loop: GLUT calls idle whenever it has nothing else to do, idle
// posts a redisplay, and display makes, shows and measures one frame.
#pragma once

// Animates the scene, uploads it, renders it into pixel_buffer, draws the
// buffer into the window, swaps, and updates the frame rate and the title.
void display();

// Posts a redisplay, so that frames follow one another without a pause.
void idle();
