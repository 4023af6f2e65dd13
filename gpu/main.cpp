// The full program: the same entry point as tavro_cpu with the CUDA back end
// installed, which adds the option -cuda.
#include "app/cli.h"
#include "gpu/gpu_context.h"

int main(int argc, char** argv) {
  tavro::InstallCudaBackend();
  return tavro::ProgramMain(argc, argv);
}
