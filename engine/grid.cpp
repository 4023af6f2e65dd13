#include <omp.h>

#include "engine/console.h"
#include "engine/engine.h"

namespace tavro {

GridDesc describeGrid(int X, int Y, int Z) {
  const uint64_t x = static_cast<uint64_t>(X), y = static_cast<uint64_t>(Y),
                 z = static_cast<uint64_t>(Z);
  const uint64_t n = x * y * z;
  const uint64_t p = (x + 1) * (y + 1) * (z + 1);
  GridDesc desc{};
  desc.cellCount = n;
  desc.extendedCount = p;
  desc.countXY = x * y;
  desc.countYZ = y * z;
  desc.countXZ = x * z;
  desc.countZXFaces = x * y + y * z;
  desc.countFaces = x * z + y * z + x * y;
  desc.nx = X;
  desc.ny = Y;
  desc.nz = Z;
  desc.viewField = 0;
  desc.viewComponent = 0;
  desc.viewScale = 0.0f;
  return desc;
}

namespace {

// Each thread maps its own share of the array ahead of the set-up's loops:
// the pages fault in on every core at once and in large batches, and each
// share lies where a static loop over the elements puts that thread.
template <class T>
void prefaultShares(Buffer<T>& b) {
  const std::size_t n = b.size();
  if (n == 0) return;
#pragma omp parallel
  {
    const std::size_t t = static_cast<std::size_t>(omp_get_thread_num());
    const std::size_t count = static_cast<std::size_t>(omp_get_num_threads());
    const std::size_t share = (n + count - 1) / count;
    b.prefault(t * share, share);
  }
}

}  // namespace

int GridHolder::buildGrid(int X, int Y, int Z) {
  desc = describeGrid(X, Y, Z);
  const uint64_t p = desc.extendedCount, n = desc.cellCount;
  // The large arrays take small pages: the set-up writes all of them at once,
  // and fresh huge pages can cost several times as much to fault in.
  bool ok = e.allocate(p, false);
  ok = ok && h.allocate(p, false);
  ok = ok && murCoef.allocate(2 * desc.countFaces);
  ok = ok && murZ.allocate(desc.countXY);
  ok = ok && murX.allocate(desc.countYZ);
  ok = ok && murY.allocate(desc.countXZ);
  ok = ok && cellColor.allocate(n, false);
  if (!ok) return 0;
  prefaultShares(e);
  prefaultShares(h);
  prefaultShares(cellColor);
  return 1;
}

int GridHolder::allocateMaterials(int X, int Y, int Z, bool fill) {
  if (!buildGrid(X, Y, Z)) return 0;
  const uint64_t n = desc.cellCount;
  Buffer<float>* arrays[9] = {&mat.sigmaX, &mat.sigmaY, &mat.sigmaZ, &mat.epsX, &mat.epsY,
                              &mat.epsZ,   &mat.muX,    &mat.muY,    &mat.muZ};
  for (Buffer<float>* a : arrays) {
    if (!a->allocate(n, false)) return 0;
    prefaultShares(*a);
  }
  if (!fill) return 1;
  float* sx = mat.sigmaX.data();
  float* sy = mat.sigmaY.data();
  float* sz = mat.sigmaZ.data();
  float* ex = mat.epsX.data();
  float* ey = mat.epsY.data();
  float* ez = mat.epsZ.data();
  float* mx = mat.muX.data();
  float* my = mat.muY.data();
  float* mz = mat.muZ.data();
  const int64_t count = static_cast<int64_t>(n);
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < count; ++k) {
    sx[k] = sy[k] = sz[k] = 1e-13f;
    ex[k] = ey[k] = ez[k] = kEps0;
    mx[k] = my[k] = mz[k] = kMu0;
  }
  return 1;
}

}  // namespace tavro
