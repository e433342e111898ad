// The back-end controls for the CPU runtime: backend.cu compiled as C++.
#include "gpu/backend.cu"
