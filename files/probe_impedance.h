// The impedance columns of a probe's spectrum.
//
// A Gaussian or pulsed source that feeds an open structure (a dipole, any
// pair of conductors) leaves charge behind: the voltage across the feed
// settles at a level of its own and stays there. The spectrum sums over whole
// periods remove a constant but not such a step, whose transform, about
// step / (j w dt) per sample, swamps the voltage's own spectrum. The
// differences of V and I have no step: their transforms give
//   Z = S(dV) / S(dI) = S(V) / S(I)
// wherever the recording has decayed, and stay sound where it has a step.
// The current is the loop integral of H, which the step sets half a time step
// before the E of the voltage; taking I at V's instant multiplies S(dI) by
// e^{j w dt/2}.
//
// A probe whose V and I end where they started, and every probe of a run
// without a Gaussian or pulse source, keeps the plain ratio of the sums, so
// that its results stay as they were; the differences are used only for a
// probe whose recording settles away from its start in a run fed by one.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace tavro {

// Whether the recorded V or I of one probe (sample j at samples[j * stride])
// settles at a level away from rest (the fields start at zero) and from its
// first sample: for one of the three components, the Hann-weighted mean of
// the last half of the recording differs from both 0 and the first sample by
// more than kSettledShare of the largest magnitude of the quantity. The
// window keeps ringing or a steady wave from counting as a level; a level
// held from the first sample on (a DC source) is a constant, which the
// whole-period sums remove.
constexpr double kSettledShare = 0.02;
bool SettlesAway(const ProbeSample* samples, uint64_t stride, uint64_t n);

// Z = sum_a V_a conj(I_a) / sum_a |I_a|^2 from the real and imaginary sums of
// the three components of V and I, rotated by e^{-j phase}; (0, 0) when the
// current sums are all 0.
void ImpedanceFromSums(const float* reV, const float* imV, const float* reI, const float* imI,
                       double phase, float& zr, float& zi);

}  // namespace tavro
