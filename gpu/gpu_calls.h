// Checked driver calls of the back end. Every driver result is looked at: a
// failure during a run prints "error: <call> failed: <driver's error name>."
// and releases everything on the device, since a context in which a kernel
// faulted can run nothing more; the next set-up starts the device afresh.
#pragma once

#include <cuda.h>

#include <string>

#include "gpu/cuda_driver.h"
#include "gpu/gpu_context.h"

namespace tavro {

// Names of the device buffers in messages, in GpuBuffer order.
extern const char* const kGpuBufferNames[kBufferCount];

// The loaded driver (nullptr without one).
inline const CudaDriver* Driver() { return LoadCudaDriver(); }

// "<call>(<what>) failed: <error name>" (no parentheses for an empty what).
std::string DescribeFailure(const char* call, const std::string& what, CUresult result);

// The result of a driver call made during a run: true on success; otherwise
// the message is printed, the device released and false returned.
bool RunCall(GpuContext& c, CUresult result, const char* call, const std::string& what);

// Frees the buffers and destroys the context without looking at the
// results: used after a failure, when the context may already be lost.
void ReleaseAfterFailure(GpuContext& c);

// Whether the device holds buffers of exactly the sizes that this engine's
// host arrays have. The set-up frees the device buffers before it rebuilds
// the host grid and allocates them again after, so a mismatch means that the
// device holds nothing for this run.
bool DeviceHoldsGrid(const GpuContext& c, const SimulationEngine& eng);

}  // namespace tavro
