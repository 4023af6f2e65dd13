// A stand-in for the CUDA driver library, built as libcuda.so.1 for the tests
// of the GPU back end on machines without a GPU. It keeps "device" memory in
// host memory, runs no kernels and fails one chosen call on request:
//   STUB_CUDA_FAIL=<entry point>:<n>:<result>
// makes the n-th call of that entry point return <result>. A kernel fault
// (700 or 719) is sticky as on a real device: every later call but the
// release of the context returns it too. A context destroyed while buffers
// are still allocated outside such a fault is reported on standard error.
#include <cuda.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Injection {
  std::string entry;
  long call = 0;
  CUresult result = CUDA_SUCCESS;
};

Injection readInjection() {
  Injection in;
  const char* v = std::getenv("STUB_CUDA_FAIL");
  if (!v) return in;
  const std::string s = v;
  const size_t a = s.find(':'), b = s.find(':', a + 1);
  if (a == std::string::npos || b == std::string::npos) return in;
  in.entry = s.substr(0, a);
  in.call = std::atol(s.substr(a + 1, b - a - 1).c_str());
  in.result = static_cast<CUresult>(std::atoi(s.substr(b + 1).c_str()));
  return in;
}

struct Stub {
  Injection injection = readInjection();
  std::map<std::string, long> calls;
  std::map<CUdeviceptr, size_t> buffers;  // live allocations
  CUresult sticky = CUDA_SUCCESS;
  bool context = false;
};

Stub& stub() {
  static Stub* s = new Stub;  // never destroyed: calls may come at exit
  return *s;
}

// Counts the call and gives the injected or sticky result, if any.
CUresult enter(const char* entry) {
  Stub& s = stub();
  const long n = ++s.calls[entry];
  if (s.sticky != CUDA_SUCCESS) return s.sticky;
  if (s.injection.entry == entry && s.injection.call == n) {
    if (s.injection.result == CUDA_ERROR_ILLEGAL_ADDRESS ||
        s.injection.result == CUDA_ERROR_LAUNCH_FAILED)
      s.sticky = s.injection.result;
    return s.injection.result;
  }
  return CUDA_SUCCESS;
}

bool inBuffer(CUdeviceptr p, size_t bytes) {
  for (const auto& [base, size] : stub().buffers)
    if (p >= base && p + bytes <= base + size) return true;
  return false;
}

}  // namespace

extern "C" {

CUresult cuGetErrorName(CUresult error, const char** name) {
  static const std::map<int, const char*> names = {
      {CUDA_SUCCESS, "CUDA_SUCCESS"},
      {CUDA_ERROR_INVALID_VALUE, "CUDA_ERROR_INVALID_VALUE"},
      {CUDA_ERROR_OUT_OF_MEMORY, "CUDA_ERROR_OUT_OF_MEMORY"},
      {CUDA_ERROR_NOT_INITIALIZED, "CUDA_ERROR_NOT_INITIALIZED"},
      {CUDA_ERROR_NO_DEVICE, "CUDA_ERROR_NO_DEVICE"},
      {CUDA_ERROR_INVALID_DEVICE, "CUDA_ERROR_INVALID_DEVICE"},
      {CUDA_ERROR_INVALID_PTX, "CUDA_ERROR_INVALID_PTX"},
      {CUDA_ERROR_NOT_FOUND, "CUDA_ERROR_NOT_FOUND"},
      {CUDA_ERROR_ILLEGAL_ADDRESS, "CUDA_ERROR_ILLEGAL_ADDRESS"},
      {CUDA_ERROR_LAUNCH_FAILED, "CUDA_ERROR_LAUNCH_FAILED"},
  };
  const auto it = names.find(error);
  if (it == names.end()) return CUDA_ERROR_INVALID_VALUE;
  *name = it->second;
  return CUDA_SUCCESS;
}

CUresult cuInit(unsigned int) { return enter("cuInit"); }

CUresult cuDeviceGet(CUdevice* device, int ordinal) {
  if (CUresult r = enter("cuDeviceGet")) return r;
  if (ordinal != 0) return CUDA_ERROR_INVALID_DEVICE;
  *device = 0;
  return CUDA_SUCCESS;
}

CUresult cuDeviceGetName(char* name, int len, CUdevice) {
  if (CUresult r = enter("cuDeviceGetName")) return r;
  std::snprintf(name, static_cast<size_t>(len), "Stub GPU");
  return CUDA_SUCCESS;
}

// The memory of an H100 SXM: 2619 MHz, 5120 bits.
CUresult cuDeviceGetAttribute(int* value, CUdevice_attribute attribute, CUdevice) {
  if (CUresult r = enter("cuDeviceGetAttribute")) return r;
  if (attribute == CU_DEVICE_ATTRIBUTE_MEMORY_CLOCK_RATE)
    *value = 2619000;
  else if (attribute == CU_DEVICE_ATTRIBUTE_GLOBAL_MEMORY_BUS_WIDTH)
    *value = 5120;
  else
    return CUDA_ERROR_INVALID_VALUE;
  return CUDA_SUCCESS;
}

CUresult cuCtxCreate_v2(CUcontext* ctx, unsigned int, CUdevice) {
  if (CUresult r = enter("cuCtxCreate_v2")) return r;
  stub().context = true;
  *ctx = reinterpret_cast<CUcontext>(&stub());
  return CUDA_SUCCESS;
}

CUresult cuModuleLoadDataEx(CUmodule* module, const void* image, unsigned int n,
                            CUjit_option* options, void** values) {
  const CUresult r = enter("cuModuleLoadDataEx");
  if (r != CUDA_SUCCESS) {
    // The compiler's log, as the driver writes it into the caller's buffer.
    char* log = nullptr;
    size_t size = 0;
    for (unsigned i = 0; i < n; ++i) {
      if (options[i] == CU_JIT_ERROR_LOG_BUFFER) log = static_cast<char*>(values[i]);
      if (options[i] == CU_JIT_ERROR_LOG_BUFFER_SIZE_BYTES)
        size = reinterpret_cast<uintptr_t>(values[i]);
    }
    if (log && size) std::snprintf(log, size, "ptxas fatal   : stub refuses this module\n");
    return r;
  }
  if (!image || !std::strstr(static_cast<const char*>(image), ".entry"))
    return CUDA_ERROR_INVALID_PTX;
  *module = reinterpret_cast<CUmodule>(&stub());
  return CUDA_SUCCESS;
}

CUresult cuModuleGetFunction(CUfunction* f, CUmodule, const char* name) {
  if (CUresult r = enter("cuModuleGetFunction")) return r;
  *f = reinterpret_cast<CUfunction>(const_cast<char*>(name));
  return CUDA_SUCCESS;
}

CUresult cuMemAlloc_v2(CUdeviceptr* p, size_t bytes) {
  if (CUresult r = enter("cuMemAlloc_v2")) return r;
  void* m = std::calloc(bytes, 1);
  if (!m) return CUDA_ERROR_OUT_OF_MEMORY;
  *p = reinterpret_cast<CUdeviceptr>(m);
  stub().buffers[*p] = bytes;
  return CUDA_SUCCESS;
}

CUresult cuMemFree_v2(CUdeviceptr p) {
  if (CUresult r = enter("cuMemFree_v2")) return r;
  if (!stub().buffers.erase(p)) return CUDA_ERROR_INVALID_VALUE;
  std::free(reinterpret_cast<void*>(p));
  return CUDA_SUCCESS;
}

CUresult cuMemcpyHtoD_v2(CUdeviceptr dst, const void* src, size_t bytes) {
  if (CUresult r = enter("cuMemcpyHtoD_v2")) return r;
  if (!inBuffer(dst, bytes)) return CUDA_ERROR_INVALID_VALUE;
  std::memcpy(reinterpret_cast<void*>(dst), src, bytes);
  return CUDA_SUCCESS;
}

CUresult cuMemcpyDtoH_v2(void* dst, CUdeviceptr src, size_t bytes) {
  if (CUresult r = enter("cuMemcpyDtoH_v2")) return r;
  if (!inBuffer(src, bytes)) return CUDA_ERROR_INVALID_VALUE;
  std::memcpy(dst, reinterpret_cast<const void*>(src), bytes);
  return CUDA_SUCCESS;
}

CUresult cuLaunchKernel(CUfunction f, unsigned gx, unsigned, unsigned, unsigned bx, unsigned,
                        unsigned, unsigned, CUstream, void** params, void**) {
  if (CUresult r = enter("cuLaunchKernel")) return r;
  return f && gx > 0 && bx > 0 && params ? CUDA_SUCCESS : CUDA_ERROR_INVALID_VALUE;
}

CUresult cuCtxSynchronize() { return enter("cuCtxSynchronize"); }

CUresult cuMemGetInfo_v2(size_t* freeBytes, size_t* totalBytes) {
  if (CUresult r = enter("cuMemGetInfo_v2")) return r;
  size_t used = 0;
  for (const auto& b : stub().buffers) used += b.second;
  *totalBytes = size_t{8} << 30;
  *freeBytes = *totalBytes - used;
  return CUDA_SUCCESS;
}

CUresult cuCtxDestroy_v2(CUcontext) {
  Stub& s = stub();
  ++s.calls["cuCtxDestroy_v2"];
  // Destroying the context releases its memory; a caller that forgot its
  // buffers without a fault to excuse it is told so.
  if (!s.buffers.empty() && s.sticky == CUDA_SUCCESS)
    std::fprintf(stderr, "stub: %zu buffers left at cuCtxDestroy_v2\n", s.buffers.size());
  for (const auto& b : s.buffers) std::free(reinterpret_cast<void*>(b.first));
  s.buffers.clear();
  s.context = false;
  s.sticky = CUDA_SUCCESS;
  return CUDA_SUCCESS;
}

}  // extern "C"
