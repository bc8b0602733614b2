#include "raster/Kernels.h"

#include <cmath>

#include "raster/Errors.h"
#include "raster/Numeric.h"

namespace quirlon::raster {

namespace {

constexpr Extended kPi = 3.141592653589793238462643383279502884L;

Extended Sinc(Extended x) {
  if (x == 0.0L) return 1.0L;
  const Extended px = kPi * x;
  return std::sin(px) / px;
}

template <class K>
std::unique_ptr<TCustomKernel> CreateKernel() {
  return std::make_unique<K>();
}

}  // namespace

// --- base ---

std::unique_ptr<TCustomKernel> TCustomKernel::Clone() const {
  auto copy = CreateNew();
  copy->Assign(*this);
  return copy;
}

void TCustomKernel::Changed() {
  if (fObserver) fObserver->Changed();
}

// --- kernels without parameters ---

float TBoxKernel::KernelValue(float X) const { return (X >= -0.5f && X <= 0.5f) ? 1.0f : 0.0f; }

float TLinearKernel::KernelValue(float X) const {
  const Extended x = X;
  if (x < -1.0L) return 0.0f;
  if (x < 0.0L) return StoreSingle(1.0L + x);
  if (x < 1.0L) return StoreSingle(1.0L - x);
  return 0.0f;
}

float TCosineKernel::KernelValue(float X) const {
  const Extended a = std::fabs(static_cast<Extended>(X));
  if (a >= 1.0L) return 0.0f;
  return StoreSingle((std::cos(kPi * X) + 1.0L) / 2.0L);
}

float TSplineKernel::KernelValue(float X) const {
  const Extended a = std::fabs(static_cast<Extended>(X));
  if (a < 1.0L) return StoreSingle(a * a * a / 2.0L - a * a + 2.0L / 3.0L);
  if (a < 2.0L) {
    const Extended b = 2.0L - a;
    return StoreSingle(b * b * b / 6.0L);
  }
  return 0.0f;
}

float TMitchellKernel::KernelValue(float X) const {
  const Extended a = std::fabs(static_cast<Extended>(X));
  const Extended a2 = a * a;
  const Extended a3 = a2 * a;
  if (a < 1.0L) return StoreSingle((7.0L * a3 - 12.0L * a2 + 16.0L / 3.0L) / 6.0L);
  if (a < 2.0L) return StoreSingle((-7.0L / 3.0L * a3 + 12.0L * a2 - 20.0L * a + 32.0L / 3.0L) / 6.0L);
  return 0.0f;
}

// --- cubic ---

float TCubicKernel::KernelValue(float X) const {
  const Extended a = std::fabs(static_cast<Extended>(X));
  const Extended c = fCoeff;
  const Extended a2 = a * a;
  const Extended a3 = a2 * a;
  if (a < 1.0L) return StoreSingle((c + 2.0L) * a3 - (c + 3.0L) * a2 + 1.0L);
  if (a < 2.0L) return StoreSingle(c * (a3 - 5.0L * a2 + 8.0L * a - 4.0L));
  return 0.0f;
}

void TCubicKernel::Assign(const TCustomKernel& Source) {
  if (auto* s = dynamic_cast<const TCubicKernel*>(&Source)) SetCoeff(s->fCoeff);
}

void TCubicKernel::SetCoeff(float Value) {
  if (Value == fCoeff) return;
  fCoeff = Value;
  Changed();
}

// --- windowed sinc family ---

float TWindowedSincKernel::KernelValue(float X) const {
  const float a = std::fabs(X);
  if (a >= fWidth) return 0.0f;
  return StoreSingle(Sinc(a) * static_cast<Extended>(WindowAt(a)));
}

void TWindowedSincKernel::Assign(const TCustomKernel& Source) {
  if (auto* s = dynamic_cast<const TWindowedSincKernel*>(&Source)) SetWidth(s->fWidth);
}

void TWindowedSincKernel::SetWidth(float Value) {
  if (Value > 4.0f) Value = 4.0f;
  if (Value == fWidth) return;
  fWidth = Value;
  Changed();
}

float TLanczosKernel::WindowAt(float X) const { return StoreSingle(Sinc(Divide(X, fWidth))); }

float TGaussianKernel::WindowAt(float X) const {
  const Extended x = X;
  return StoreSingle(std::exp2(Divide(-(x * x), fSigma)));
}

void TGaussianKernel::Assign(const TCustomKernel& Source) {
  TWindowedSincKernel::Assign(Source);
  if (auto* s = dynamic_cast<const TGaussianKernel*>(&Source)) SetSigma(s->fSigma);
}

void TGaussianKernel::SetSigma(float Value) {
  if (Value == fSigma) return;
  fSigma = Value;
  Changed();
}

float TBlackmanKernel::WindowAt(float X) const {
  const Extended t = kPi * Divide(X, fWidth);
  return StoreSingle(0.42L + 0.5L * std::cos(t) + 0.08L * std::cos(2.0L * t));
}

float THannKernel::WindowAt(float X) const {
  return StoreSingle(0.5L + 0.5L * std::cos(kPi * Divide(X, fWidth)));
}

float THammingKernel::WindowAt(float X) const {
  return StoreSingle(0.54L + 0.46L * std::cos(kPi * Divide(X, fWidth)));
}

// --- sinsh ---

float TSinshKernel::KernelValue(float X) const {
  if (X == 0.0f) return 1.0f;
  const Extended px = kPi * static_cast<Extended>(X);
  const Extended c = fCoeff;
  return StoreSingle(Divide(c * std::sin(px), std::sinh(c * px)));
}

void TSinshKernel::Assign(const TCustomKernel& Source) {
  if (auto* s = dynamic_cast<const TSinshKernel*>(&Source)) {
    SetWidth(s->fWidth);
    SetCoeff(s->fCoeff);
  }
}

void TSinshKernel::SetWidth(float Value) {
  if (Value == fWidth) return;
  fWidth = Value;
  Changed();
}

void TSinshKernel::SetCoeff(float Value) {
  if (Value == fCoeff) return;
  fCoeff = Value;
  Changed();
}

// --- Hermite ---

float THermiteKernel::KernelValue(float X) const {
  const Extended x = X;
  const Extended fl = std::floor(x);
  const Extended t = x - fl;
  const Extended t2 = t * t;
  const Extended t3 = t2 * t;
  const Extended h = -2.0L * t3 + 3.0L * t2;
  const Extended k = (1.0L - static_cast<Extended>(fTension)) / 2.0L;
  const Extended g = k * (1.0L - static_cast<Extended>(fBias));
  const Extended f = k * (1.0L + static_cast<Extended>(fBias));
  const Extended m = t + t3 - 2.0L * t2;
  const Extended d = t3 - t2;
  if (fl == 0.0L) return StoreSingle(m * (f - g) + (1.0L - h) - d * f);
  if (fl == 1.0L) return StoreSingle(-m * f);
  if (fl == -2.0L) return StoreSingle(g * d);
  if (fl == -1.0L) return StoreSingle(h + g * m + d * (f - g));
  return 0.0f;
}

void THermiteKernel::Assign(const TCustomKernel& Source) {
  if (auto* s = dynamic_cast<const THermiteKernel*>(&Source)) {
    SetBias(s->fBias);
    SetTension(s->fTension);
  }
}

void THermiteKernel::SetBias(float Value) {
  if (Value == fBias) return;
  fBias = Value;
  Changed();
}

void THermiteKernel::SetTension(float Value) {
  if (Value == fTension) return;
  fTension = Value;
  Changed();
}

// --- registry ---

const std::vector<TKernelClass>& KernelRegistry() {
  static const std::vector<TKernelClass> registry{
      {"TBoxKernel", &CreateKernel<TBoxKernel>},           {"TLinearKernel", &CreateKernel<TLinearKernel>},
      {"TCosineKernel", &CreateKernel<TCosineKernel>},     {"TSplineKernel", &CreateKernel<TSplineKernel>},
      {"TCubicKernel", &CreateKernel<TCubicKernel>},       {"TMitchellKernel", &CreateKernel<TMitchellKernel>},
      {"TLanczosKernel", &CreateKernel<TLanczosKernel>},   {"TGaussianKernel", &CreateKernel<TGaussianKernel>},
      {"TBlackmanKernel", &CreateKernel<TBlackmanKernel>}, {"THannKernel", &CreateKernel<THannKernel>},
      {"THammingKernel", &CreateKernel<THammingKernel>},   {"TSinshKernel", &CreateKernel<TSinshKernel>},
      {"THermiteKernel", &CreateKernel<THermiteKernel>},
  };
  return registry;
}

const TKernelClass* FindKernelClass(const std::string& Name) {
  for (const TKernelClass& c : KernelRegistry())
    if (c.Name == Name) return &c;
  return nullptr;
}

const TKernelClass& KernelClassAt(int Index) {
  const auto& registry = KernelRegistry();
  if (Index < 0 || static_cast<std::size_t>(Index) >= registry.size()) throw EListError(Format(kListIndexError, Index));
  return registry[static_cast<std::size_t>(Index)];
}

void GetKernelClassNames(std::vector<std::string>& List) {
  for (const TKernelClass& c : KernelRegistry()) List.push_back(c.Name);
}

}  // namespace quirlon::raster
