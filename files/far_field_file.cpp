#include "files/far_field_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/console.h"

namespace tavro {

bool WriteFarFieldFile(const std::string& path, double freq, const FarFieldPattern& pattern,
                       const FarFieldRecorder& rec) {
  // The text is composed first and written in one piece, so that a file that
  // cannot be written completely is not left half written.
  std::ostringstream o;
  const SurfaceBox& b = rec.box();
  o << "# far field at " << freq << "[Hz]\n"
    << "# frequency : " << freq << "[Hz]\n"
    << "# radiated power : " << pattern.power << "[W]\n"
    << "# directivity : " << ToDbi(pattern.maxDirectivity) << "[dBi] at theta=" << pattern.maxTheta
    << " phi=" << pattern.maxPhi << "\n"
    << "# surface : box (" << b.x0 << "," << b.y0 << "," << b.z0 << ")-(" << b.x1 << "," << b.y1
    << "," << b.z1 << "), " << rec.steps() << " steps\n"
    << "# theta[deg] phi[deg] rEtheta_re rEtheta_im rEphi_re rEphi_im D[dBi]\n";
  const int P = FarFieldPattern::kPhiCount;
  for (std::size_t i = 0; i < pattern.points.size(); ++i) {
    const FarFieldPoint& p = pattern.points[i];
    o << static_cast<double>(i / P) * FarFieldPattern::kStepDeg << " "
      << static_cast<double>(i % P) * FarFieldPattern::kStepDeg << " " << p.eTheta.real() << " "
      << p.eTheta.imag() << " " << p.ePhi.real() << " " << p.ePhi.imag() << " "
      << ToDbi(pattern.directivity[i]) << "\n";
  }
  const std::string text = o.str();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const bool opened = out.is_open();
  if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (out) out.flush();
  if (!out) {
    if (opened) {
      out.close();
      std::remove(path.c_str());
    }
    con() << "warning: can't write far-field file(" << path << ").\n";
    return false;
  }
  return true;
}

}  // namespace tavro
