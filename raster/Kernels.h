#pragma once
// Weighting functions for the kernel-based stretch and the kernel resampler's point samples, and
// the class registry that lists them by name. A kernel value is a 32-bit float; the formulas are
// evaluated in extended precision and rounded once on return.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::raster {

class TCustomKernel : public TPersistent {
public:
  std::string ClassName() const override { return "TCustomKernel"; }
  virtual bool NeedsClamp() const { return false; }
  // A new kernel of the same class with default parameters.
  virtual std::unique_ptr<TCustomKernel> CreateNew() const = 0;
  virtual float KernelValue(float X) const = 0;
  virtual float Support() const = 0;
  // Copies the published parameters that Source shares with this kernel's class.
  virtual void Assign(const TCustomKernel& Source) { (void)Source; }

  std::unique_ptr<TCustomKernel> Clone() const;

  // The owning resampler, told about every parameter change; not owned.
  void SetObserver(TNotifiablePersistent* Observer) { fObserver = Observer; }
  TNotifiablePersistent* Observer() const { return fObserver; }

protected:
  void Changed();

private:
  TNotifiablePersistent* fObserver = nullptr;
};

// 1 on -0.5 <= x <= 0.5.
class TBoxKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TBoxKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TBoxKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 1.0f; }
};

// The tent 1 - |x| on -1 <= x < 1.
class TLinearKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TLinearKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TLinearKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 1.0f; }
};

class TCosineKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TCosineKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TCosineKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 1.0f; }
};

class TSplineKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TSplineKernel"; }
  bool NeedsClamp() const override { return true; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TSplineKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 2.0f; }
};

class TCubicKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TCubicKernel"; }
  bool NeedsClamp() const override { return true; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TCubicKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 2.0f; }
  void Assign(const TCustomKernel& Source) override;

  float Coeff() const { return fCoeff; }
  void SetCoeff(float Value);

private:
  float fCoeff = -0.5f;
};

class TMitchellKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TMitchellKernel"; }
  bool NeedsClamp() const override { return true; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TMitchellKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 2.0f; }
};

// sinc(|x|) times a window, zero from Width on; Width is at most 4.
class TWindowedSincKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TWindowedSincKernel"; }
  bool NeedsClamp() const override { return true; }
  float KernelValue(float X) const override;
  float Support() const override { return fWidth; }
  void Assign(const TCustomKernel& Source) override;
  virtual float WindowAt(float X) const = 0;

  float Width() const { return fWidth; }
  void SetWidth(float Value);

protected:
  float fWidth = 3.0f;
};

class TLanczosKernel : public TWindowedSincKernel {
public:
  std::string ClassName() const override { return "TLanczosKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TLanczosKernel>(); }
  float WindowAt(float X) const override;
};

class TGaussianKernel : public TWindowedSincKernel {
public:
  std::string ClassName() const override { return "TGaussianKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TGaussianKernel>(); }
  float WindowAt(float X) const override;  // raises a division error when Sigma is 0
  void Assign(const TCustomKernel& Source) override;

  float Sigma() const { return fSigma; }
  void SetSigma(float Value);

private:
  float fSigma = 1.33f;
};

class TBlackmanKernel : public TWindowedSincKernel {
public:
  std::string ClassName() const override { return "TBlackmanKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TBlackmanKernel>(); }
  float WindowAt(float X) const override;
};

class THannKernel : public TWindowedSincKernel {
public:
  std::string ClassName() const override { return "THannKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<THannKernel>(); }
  float WindowAt(float X) const override;
};

class THammingKernel : public TWindowedSincKernel {
public:
  std::string ClassName() const override { return "THammingKernel"; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<THammingKernel>(); }
  float WindowAt(float X) const override;
};

// Coeff sin(pi x) / sinh(Coeff pi x); raises a division error when Coeff is 0 (x != 0).
class TSinshKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "TSinshKernel"; }
  bool NeedsClamp() const override { return true; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<TSinshKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return fWidth; }
  void Assign(const TCustomKernel& Source) override;

  float Width() const { return fWidth; }
  void SetWidth(float Value);
  float Coeff() const { return fCoeff; }
  void SetCoeff(float Value);

private:
  float fWidth = 3.0f;
  float fCoeff = 0.5f;
};

// Piecewise Hermite cubic with tension and bias.
class THermiteKernel : public TCustomKernel {
public:
  std::string ClassName() const override { return "THermiteKernel"; }
  bool NeedsClamp() const override { return true; }
  std::unique_ptr<TCustomKernel> CreateNew() const override { return std::make_unique<THermiteKernel>(); }
  float KernelValue(float X) const override;
  float Support() const override { return 2.0f; }
  void Assign(const TCustomKernel& Source) override;

  float Bias() const { return fBias; }
  void SetBias(float Value);
  float Tension() const { return fTension; }
  void SetTension(float Value);

private:
  float fBias = 0.0f;
  float fTension = 0.0f;
};

// The kernel class registry, in registration order (box, linear, cosine, spline, cubic, Mitchell,
// Lanczos, Gaussian, Blackman, Hann, Hamming, sinsh, Hermite). Lookup compares names exactly and
// yields the first match.
struct TKernelClass {
  std::string Name;
  std::unique_ptr<TCustomKernel> (*Create)();
};
const std::vector<TKernelClass>& KernelRegistry();
const TKernelClass* FindKernelClass(const std::string& Name);  // nullptr when unknown
// Throws EListError("List index out of bounds (%d)") for an index the registry does not have.
const TKernelClass& KernelClassAt(int Index);
// Appends every registered name, in registry order.
void GetKernelClassNames(std::vector<std::string>& List);

}  // namespace quirlon::raster
