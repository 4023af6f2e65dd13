// Linked into the program tavro only: installs the CUDA back end before main
// runs, so that tavro is the entry point of tavro_cpu with the back end (and
// the option -cuda) added.
#include "gpu/gpu_context.h"

namespace {

[[maybe_unused]] const bool kInstalled = (tavro::InstallCudaBackend(), true);

}  // namespace
