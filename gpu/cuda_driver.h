// The CUDA driver library, loaded at run time: the program starts and runs on
// the CPU on machines without a GPU or a driver. The toolkit's cuda.h gives
// the types only; every entry point is looked up by its exported name.
#pragma once

#include <cuda.h>

#include <cstddef>
#include <string>

namespace tavro {

struct CudaDriver {
  CUresult (*init)(unsigned int flags);
  CUresult (*deviceGet)(CUdevice* device, int ordinal);
  CUresult (*deviceGetName)(char* name, int len, CUdevice device);
  CUresult (*ctxCreate)(CUcontext* ctx, unsigned int flags, CUdevice device);
  CUresult (*moduleLoadDataEx)(CUmodule* module, const void* image, unsigned int numOptions,
                               CUjit_option* options, void** optionValues);
  CUresult (*moduleGetFunction)(CUfunction* f, CUmodule module, const char* name);
  CUresult (*memAlloc)(CUdeviceptr* p, size_t bytes);
  CUresult (*memFree)(CUdeviceptr p);
  CUresult (*memcpyHtoD)(CUdeviceptr dst, const void* src, size_t bytes);
  CUresult (*memcpyDtoH)(void* dst, CUdeviceptr src, size_t bytes);
  CUresult (*launchKernel)(CUfunction f, unsigned gx, unsigned gy, unsigned gz, unsigned bx,
                           unsigned by, unsigned bz, unsigned sharedBytes, CUstream stream,
                           void** params, void** extra);
  CUresult (*ctxSynchronize)();
  CUresult (*memGetInfo)(size_t* freeBytes, size_t* totalBytes);
  CUresult (*ctxDestroy)(CUcontext ctx);
  CUresult (*getErrorName)(CUresult error, const char** name);
  CUresult (*deviceGetAttribute)(int* value, CUdevice_attribute attribute, CUdevice device);
};

// The driver's entry points, loaded on the first call from libcuda.so.1 (as
// the dynamic loader finds it, LD_LIBRARY_PATH first); nullptr when the
// library or one of its entry points is missing.
const CudaDriver* LoadCudaDriver();

// Why LoadCudaDriver gave nullptr (empty when it did not).
const std::string& CudaDriverLoadError();

// The driver's name of a result, for example "CUDA_ERROR_OUT_OF_MEMORY"; the
// number when the driver has no name for it.
std::string CudaErrorName(CUresult result);

}  // namespace tavro
