// The GPU host layer: the device frame and sphere buffers, the texture over
// the spheres, the uploads into the kernel's stores, and the per-frame
// launch and read-back.  The kernel module (kernel/ray_trace.cu) is a unit
// of its own; its stores and its kernel are reached here by name, as the
// module's registration makes them known to the runtime.
//
// Every checked call reports a failure with one line on standard error that
// names this file and a fixed line number, then ends the process with
// exit(1).  Every check but the two device queries also synchronises, so no
// device work is ever pending when a function returns.

#include "rtlib/rtlib.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "cutil/cutil.h"
#include "runtime/runtime.h"
#include "rtlib/sphere_texture.h"
#include "kernel/ray_trace.h"
#include "scene/records.h"

constinit const SphereTextureSettings spheres_texture_settings = {
    0,
    cudaFilterModePoint,
    {cudaAddressModeClamp, cudaAddressModeClamp},
    {32, 32, 32, 32, cudaChannelFormatKindUnsigned},
};

namespace {

// The file name every error message prints, whatever the build calls it.
constexpr const char* kSourceFile = "rtlib.cu";

[[noreturn]] void report_cuda_error(cudaError_t error, int line) {
  std::fprintf(stderr, "Cuda error in file '%s' in line %i : %s.\n", kSourceFile, line,
               cudaGetErrorString(error));
  std::exit(1);
}

[[noreturn]] void report_kernel_error(const char* text, cudaError_t error, int line) {
  std::fprintf(stderr, "Cuda error: %s in file '%s' in line %i : %s.\n", text, kSourceFile, line,
               cudaGetErrorString(error));
  std::exit(1);
}

[[noreturn]] void report_timer_error(int line) {
  std::fprintf(stderr, "Cut error in file '%s' in line %i.\n", kSourceFile, line);
  std::exit(1);
}

[[noreturn]] void report_no_device(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
}

}  // namespace

// The runtime call's result, without a synchronise.
#define CHECK_CUDA_NO_SYNC(call, line)                                      \
  do {                                                                      \
    const cudaError_t check_error_ = (call);                                \
    if (check_error_ != cudaSuccess) report_cuda_error(check_error_, line); \
  } while (0)

// The runtime call's result, then the synchronise's, under the same line.
#define CHECK_CUDA(call, line)                           \
  do {                                                   \
    CHECK_CUDA_NO_SYNC(call, line);                      \
    CHECK_CUDA_NO_SYNC(cudaDeviceSynchronize(), line);   \
  } while (0)

// After a launch: the launch's own error, then the kernel run's.
#define CHECK_KERNEL(text, line)                                                  \
  do {                                                                            \
    cudaError_t check_error_ = cudaGetLastError();                                \
    if (check_error_ != cudaSuccess) report_kernel_error(text, check_error_, line); \
    check_error_ = cudaDeviceSynchronize();                                       \
    if (check_error_ != cudaSuccess) report_kernel_error(text, check_error_, line); \
  } while (0)

// The timer calls return 1 on success.
#define CHECK_TIMER(call, line)                \
  do {                                         \
    if ((call) != 1) report_timer_error(line); \
  } while (0)

namespace {

unsigned int* device_pixels = nullptr;  // frame_width x frame_height words
void* device_spheres = nullptr;         // kSphereBufferBytes: 32 Sphere records
int stored_sphere_count = -1;           // the count store's value, -1 before gpu_init's first upload
int frame_width = 0;
int frame_height = 0;
cudaTextureObject_t sphere_texture_object = 0;  // what spheres_texture holds

// A texture over the whole sphere buffer, with the settings above; its
// handle goes into the kernel's spheres_texture.
void bind_sphere_texture() {
  const SphereTextureSettings& settings = spheres_texture_settings;
  cudaResourceDesc resource{};
  resource.resType = cudaResourceTypeLinear;
  resource.res.linear.devPtr = device_spheres;
  resource.res.linear.desc = settings.channel;
  resource.res.linear.sizeInBytes = kSphereBufferBytes;
  cudaTextureDesc texture{};
  texture.addressMode[0] = settings.address_mode[0];
  texture.addressMode[1] = settings.address_mode[1];
  texture.filterMode = settings.filter_mode;
  texture.readMode = cudaReadModeElementType;
  texture.normalizedCoords = settings.normalized;
  CHECK_CUDA(cudaCreateTextureObject(&sphere_texture_object, &resource, &texture, nullptr), 40);
  CHECK_CUDA(cudaMemcpyToSymbol(spheres_texture, &sphere_texture_object,
                                sizeof(sphere_texture_object)),
             40);
}

// Selects the first device of major compute capability 1 or more.
void select_device() {
  int device_count = 0;
  CHECK_CUDA_NO_SYNC(cudaGetDeviceCount(&device_count), 88);
  if (device_count == 0) report_no_device("There is no device.\n");
  int device = 0;
  for (; device < device_count; ++device) {
    cudaDeviceProp properties;
    CHECK_CUDA_NO_SYNC(cudaGetDeviceProperties(&properties, device), 88);
    if (properties.major >= 1) break;
  }
  if (device == device_count) report_no_device("There is no device supporting CUDA.\n");
  CHECK_CUDA(cudaSetDevice(device), 88);
}

float milliseconds_between(std::chrono::steady_clock::time_point from,
                           std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<float, std::milli>(to - from).count();
}

// One frame: launch over the whole frame in 8 x 8 blocks, wait, copy back.
// With `times` null the frame's time is printed; otherwise it is returned.
int render(unsigned int* pixel_buffer, LaunchTimes* times) {
  select_device();

  unsigned int* pixels = device_pixels;
  int width = frame_width;
  int height = frame_height;
  const auto bytes = static_cast<std::size_t>(width * height * 4);

  unsigned int timer = 0;
  CHECK_TIMER(cutCreateTimer(&timer), 100);
  CHECK_TIMER(cutStartTimer(timer), 101);
  const auto launched = std::chrono::steady_clock::now();

  // Only whole blocks: columns and rows past the last multiple of 8 are not
  // written.  A failed launch is reported by the check that follows.
  const dim3 threads(8, 8, 1);
  const dim3 grid(static_cast<unsigned int>(width / 8), static_cast<unsigned int>(height / 8), 1);
  void* args[] = {&pixels, &width, &height};
  (void)cudaLaunchKernel(ray_trace, grid, threads, args, 0, nullptr);
  CHECK_KERNEL("Kernel execution failed", 111);
  const auto finished = std::chrono::steady_clock::now();

  CHECK_CUDA(cudaMemcpy(pixel_buffer, pixels, bytes, cudaMemcpyDeviceToHost), 114);
  const auto copied = std::chrono::steady_clock::now();
  CHECK_TIMER(cutStopTimer(timer), 117);

  const float total_ms = cutGetTimerValue(timer);
  if (times == nullptr) {
    std::printf("Processing time: %f (ms) \n", static_cast<double>(total_ms));
  } else {
    times->kernel_ms = milliseconds_between(launched, finished);
    times->readback_ms = milliseconds_between(finished, copied);
    times->total_ms = total_ms;
  }
  CHECK_TIMER(cutDeleteTimer(timer), 119);
  return 0;
}

}  // namespace

int gpu_init(int width, int height) {
  CHECK_CUDA(cudaMalloc(&device_pixels, static_cast<std::size_t>(width * height * 4)), 37);
  CHECK_CUDA(cudaMalloc(&device_spheres, kSphereBufferBytes), 39);
  bind_sphere_texture();
  stored_sphere_count = -1;
  frame_width = width;
  frame_height = height;
  return 0;
}

// The sphere buffer stays allocated until the process ends.
int gpu_release() {
  CHECK_CUDA(cudaDestroyTextureObject(sphere_texture_object), 80);
  CHECK_CUDA(cudaFree(device_pixels), 81);
  return 0;
}

// The frame buffer made again for a new size, with the checks of the
// release and the allocation it stands for; the sphere buffer, its texture
// and the stores stay as they are.
int gpu_resize(int width, int height) {
  CHECK_CUDA(cudaFree(device_pixels), 81);
  CHECK_CUDA(cudaMalloc(&device_pixels, static_cast<std::size_t>(width * height * 4)), 37);
  frame_width = width;
  frame_height = height;
  return 0;
}

// More than 32 spheres would run past the 1024-byte buffer: refused like
// the other two uploads' excess.  The count goes with the records, since
// the trace tests as many spheres as the last upload wrote; it is copied
// only when it changes, as the viewer uploads the same four every frame
// and each copy waits for the device.
int upload_spheres(const Sphere* records, int count) {
  if (count > kMaxSpheres) return -1;
  CHECK_CUDA(cudaMemcpy(device_spheres, records, static_cast<std::size_t>(count) * sizeof(Sphere),
                        cudaMemcpyHostToDevice),
             52);
  if (count != stored_sphere_count) {
    CHECK_CUDA(cudaMemcpyToSymbol(sphere_count, &count, sizeof(count)), 53);
    stored_sphere_count = count;
  }
  return 0;
}

int upload_materials(const Material* records, int count) {
  if (count > kMaxMaterials) return -1;
  CHECK_CUDA(cudaMemcpyToSymbol(materials_dump, records,
                                static_cast<std::size_t>(count) * sizeof(Material)),
             62);
  return 0;
}

int upload_lights(const PointLight* records, int count) {
  if (count > kMaxLights) return -1;
  CHECK_CUDA(cudaMemcpyToSymbol(point_lights_dump, records,
                                static_cast<std::size_t>(count) * sizeof(PointLight)),
             72);
  return 0;
}

int upload_scene(std::span<const Sphere> spheres, std::span<const PointLight> lights,
                 std::span<const Material> materials) {
  const auto above = [](std::size_t count, int capacity) { return count > static_cast<std::size_t>(capacity); };
  if (above(spheres.size(), kMaxSpheres) || above(lights.size(), kMaxLights) ||
      above(materials.size(), kMaxMaterials)) {
    return -1;
  }
  if (!spheres.empty()) upload_spheres(spheres.data(), static_cast<int>(spheres.size()));
  if (!lights.empty()) upload_lights(lights.data(), static_cast<int>(lights.size()));
  if (!materials.empty()) upload_materials(materials.data(), static_cast<int>(materials.size()));
  return 0;
}

int upload_scene(const SceneRecords& scene) { return upload_scene(scene.spheres, scene.lights, scene.materials); }

int upload_scene(const SceneContent& scene) { return upload_scene(scene.spheres, scene.lights, scene.materials); }

int render_frame(unsigned int* pixel_buffer) { return render(pixel_buffer, nullptr); }

int render_frame_timed(unsigned int* pixel_buffer, LaunchTimes* times) {
  LaunchTimes ignored;
  return render(pixel_buffer, times != nullptr ? times : &ignored);
}

// The kernel module is registered with the other static objects that carry
// no construction priority, after the program's own (the error logs and the
// scene storage), and must be unregistered only after every exit handler and
// static destructor has run, including those of an exit(1) from a failed
// check.  Exit handlers run in the reverse order of their registration, so
// the unregistration belongs to an object constructed before all others.
namespace {

#if VELMORA_CUDA_BUILD

// nvcc's generated registration (constructor functions of the module's
// units and of their device link) registers the module and then, with
// atexit, a handler that unregisters it: registered after the program's
// static objects, that handler would run before their destructors.  The
// build links with --wrap=__cudaUnregisterFatBinary, so the handler's call
// lands here and is only remembered; the object below makes the real call
// last.  Relocatable device code registers one binary, but a few are kept
// in case a toolchain registers more.
constexpr int kMaxRegisteredModules = 4;
void** registered_modules[kMaxRegisteredModules] = {};
int registered_module_count = 0;

}  // namespace

extern "C" void __real___cudaUnregisterFatBinary(void** module);
extern "C" void __wrap___cudaUnregisterFatBinary(void** module) {
  if (registered_module_count == kMaxRegisteredModules) {
    __real___cudaUnregisterFatBinary(module);
    return;
  }
  registered_modules[registered_module_count++] = module;
}

namespace {

void unregister_kernel_module() {
  while (registered_module_count > 0) __real___cudaUnregisterFatBinary(registered_modules[--registered_module_count]);
}

#else

// The CPU runtime learns of the kernel module the way the GPU toolchain's
// generated code tells the CUDA runtime: the module, then the kernel by its
// host address and mangled name, then the constant stores (the materials,
// the lights, the sphere count) and the texture handle by their host
// objects.
cpurt::Module* kernel_module = nullptr;

struct ModuleRegistration {
  ModuleRegistration() {
    kernel_module = cpurt::register_module(kSourceFile);
    cpurt::register_kernel(kernel_module, ray_trace, "_Z9ray_tracePjii");
    cpurt::register_variable(kernel_module, materials_dump, "materials_dump",
                             sizeof(materials_dump), true);
    cpurt::register_variable(kernel_module, point_lights_dump, "point_lights_dump",
                             sizeof(point_lights_dump), true);
    cpurt::register_variable(kernel_module, &sphere_count, "sphere_count", sizeof(sphere_count), true);
    cpurt::register_variable(kernel_module, &spheres_texture, "spheres_texture",
                             sizeof(spheres_texture), true);
  }
};

ModuleRegistration register_module_before_main;

void unregister_kernel_module() {
  cpurt::unregister_module(kernel_module);
  kernel_module = nullptr;
}

#endif

struct ModuleUnregistration {
  ~ModuleUnregistration() { unregister_kernel_module(); }
};

// 101 is the earliest priority open to programs.
__attribute__((init_priority(101))) ModuleUnregistration unregister_module_at_exit;

}  // namespace
