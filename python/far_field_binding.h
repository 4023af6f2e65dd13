// The far field of a Python Model: the recording started by
// record_far_field() and the radiated power per frequency, kept until more
// steps are recorded. Failures come back as messages; the module raises them.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/far_field_run.h"
#include "engine/console.h"
#include "engine/nf2ff_transform.h"

namespace tavro {

class FarFieldBinding {
 public:
  void reset() {
    rec_.reset();
    power_.clear();
    powerSteps_ = -1;
  }
  FarFieldRecorder* recorder() { return rec_.get(); }

  // Records `freqs` [Hz] on `box` (x0, y0, z0, x1, y1, z1; empty: 3 cells
  // inside the area's faces) from the next step on. Returns "" and the
  // console text (warnings) in `console`, or the error message.
  std::string start(const SimulationEngine& eng, const std::vector<double>& freqs,
                    const std::vector<int>& box, std::string& console) {
    if (freqs.empty()) return "give one frequency at least";
    if (!box.empty() && box.size() != 6) return "box needs 6 values (x0, y0, z0, x1, y1, z1)";
    FarFieldOptions opt;
    for (double f : freqs) {
      if (!(f > 0.0) || !std::isfinite(f)) return "far-field frequencies must be above 0 [Hz]";
      std::ostringstream text;
      text << f;
      opt.freqs.push_back(f);
      opt.freqTexts.push_back(text.str());
    }
    if (!box.empty()) {
      opt.haveBox = true;
      opt.box = {box[0], box[1], box[2], box[3], box[4], box[5]};
    }
    std::ostringstream out;
    std::ostream& previous = con();
    setConsole(&out);
    auto rec = std::make_unique<FarFieldRecorder>();
    const bool ok = PrepareFarField(opt, eng, *rec);
    setConsole(&previous);
    console = out.str();
    if (!ok) {
      const std::size_t at = console.find("error: ");
      if (at == std::string::npos) return "bad far-field surface";
      return console.substr(at + 7, console.find('\n', at) - at - 7);
    }
    rec_ = std::move(rec);
    power_.assign(freqs.size(), -1.0);
    powerSteps_ = -1;
    return "";
  }

  // The index of a recorded frequency in `f`; or the error message.
  std::string find(double freq, std::size_t& f) const {
    if (!rec_) return "no far field recorded; call record_far_field() first";
    const std::vector<double>& fs = rec_->frequencies();
    for (f = 0; f < fs.size(); ++f)
      if (std::abs(fs[f] - freq) <= 1e-9 * fs[f]) break;
    if (f == fs.size()) {
      std::ostringstream text;
      text << "the far field is not recorded at " << freq << " Hz";
      return text.str();
    }
    if (rec_->steps() == 0) return "no step recorded yet; run the model";
    return "";
  }

  // The radiated power [W] at recorded frequency index f, as the result
  // file gives it (from the pattern grid).
  double power(std::size_t f) {
    if (powerSteps_ != rec_->steps()) {
      std::fill(power_.begin(), power_.end(), -1.0);
      powerSteps_ = rec_->steps();
    }
    if (power_[f] < 0.0) power_[f] = ComputePattern(*rec_, f).power;
    return power_[f];
  }

  // rE and D [dBi] at frequency index f in the directions (theta[i],
  // phi[i]) [deg].
  void evaluate(std::size_t f, const std::vector<double>& theta, const std::vector<double>& phi,
                std::vector<FarFieldPoint>& points, std::vector<double>& dbi) {
    const double p = power(f);
    std::vector<double> th(theta.size()), ph(phi.size());
    for (std::size_t i = 0; i < th.size(); ++i) {
      th[i] = theta[i] * M_PI / 180.0;
      ph[i] = phi[i] * M_PI / 180.0;
    }
    points = FarField(*rec_, f, th, ph);
    dbi.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
      dbi[i] = p > 0.0 ? ToDbi(4.0 * M_PI * RadiationIntensity(points[i]) / p) : -300.0;
  }

 private:
  std::unique_ptr<FarFieldRecorder> rec_;
  std::vector<double> power_;  // per frequency; < 0 = not computed
  int64_t powerSteps_ = -1;
};

}  // namespace tavro
