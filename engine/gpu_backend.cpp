#include "engine/gpu_backend.h"

namespace tavro {

namespace {
const GpuBackend* g_backend = nullptr;
}  // namespace

void InstallGpuBackend(const GpuBackend* backend) { g_backend = backend; }

const GpuBackend* InstalledGpuBackend() { return g_backend; }

}  // namespace tavro
