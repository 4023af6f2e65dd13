// Qualifier for the per-cell arithmetic shared by the OpenMP loops and the
// CUDA kernels: host-and-device under nvcc, a plain inline function elsewhere.
#pragma once

#if defined(__CUDACC__)
#define FDTD_HD __host__ __device__ __forceinline__
#else
#define FDTD_HD inline
#endif
