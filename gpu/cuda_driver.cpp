#include "gpu/cuda_driver.h"

#include <dlfcn.h>

namespace tavro {

namespace {

std::string g_loadError;

template <class F>
bool lookUp(void* lib, const char* name, F& f) {
  f = reinterpret_cast<F>(dlsym(lib, name));
  if (!f) g_loadError = std::string("libcuda.so.1 has no entry point ") + name;
  return f != nullptr;
}

bool loadAll(void* lib, CudaDriver& d) {
  return lookUp(lib, "cuInit", d.init) && lookUp(lib, "cuDeviceGet", d.deviceGet) &&
         lookUp(lib, "cuDeviceGetName", d.deviceGetName) &&
         lookUp(lib, "cuCtxCreate_v2", d.ctxCreate) &&
         lookUp(lib, "cuModuleLoadDataEx", d.moduleLoadDataEx) &&
         lookUp(lib, "cuModuleGetFunction", d.moduleGetFunction) &&
         lookUp(lib, "cuMemAlloc_v2", d.memAlloc) && lookUp(lib, "cuMemFree_v2", d.memFree) &&
         lookUp(lib, "cuMemcpyHtoD_v2", d.memcpyHtoD) &&
         lookUp(lib, "cuMemcpyDtoH_v2", d.memcpyDtoH) &&
         lookUp(lib, "cuLaunchKernel", d.launchKernel) &&
         lookUp(lib, "cuCtxSynchronize", d.ctxSynchronize) &&
         lookUp(lib, "cuMemGetInfo_v2", d.memGetInfo) &&
         lookUp(lib, "cuCtxDestroy_v2", d.ctxDestroy) &&
         lookUp(lib, "cuGetErrorName", d.getErrorName) &&
         lookUp(lib, "cuDeviceGetAttribute", d.deviceGetAttribute);
}

}  // namespace

const CudaDriver* LoadCudaDriver() {
  static CudaDriver driver;
  static const CudaDriver* loaded = []() -> const CudaDriver* {
    // The library stays loaded until the process ends.
    void* lib = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      const char* why = dlerror();
      g_loadError = std::string("the CUDA driver could not be loaded: ") +
                    (why ? why : "libcuda.so.1 not found");
      return nullptr;
    }
    if (!loadAll(lib, driver)) {
      dlclose(lib);
      return nullptr;
    }
    return &driver;
  }();
  return loaded;
}

const std::string& CudaDriverLoadError() { return g_loadError; }

std::string CudaErrorName(CUresult result) {
  const CudaDriver* d = LoadCudaDriver();
  const char* name = nullptr;
  if (d && d->getErrorName(result, &name) == CUDA_SUCCESS && name) return name;
  return "CUDA error " + std::to_string(static_cast<int>(result));
}

}  // namespace tavro
