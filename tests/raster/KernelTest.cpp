#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "raster/Errors.h"
#include "raster/Kernels.h"

using namespace quirlon;
using namespace quirlon::raster;

namespace {

constexpr long double kPiL = 3.141592653589793238462643383279502884L;

long double RefSinc(long double x) { return x == 0 ? 1.0L : std::sin(kPiL * x) / (kPiL * x); }

// Reference formulas written out straight, in long double; the kernel's float must be the
// reference rounded to float, allowing one float step for a different evaluation order.
struct TKernelCase {
  const char* Name;
  std::function<long double(long double)> Ref;
};

void ExpectMatches(const TCustomKernel& k, const std::function<long double(long double)>& ref) {
  for (int n = -40; n <= 40; ++n) {
    for (float x : {n / 16.0f, n / 16.0f + 0.013f}) {
      const long double expected = ref(x);
      const float got = k.KernelValue(x);
      const float magnitude = std::fabs(static_cast<float>(expected));
      const long double tolerance = 2.0L * (std::nextafter(magnitude, 1e30f) - magnitude) + 1e-7L;
      EXPECT_NEAR(got, expected, tolerance) << k.ClassName() << " at x = " << x;
    }
  }
}

}  // namespace

TEST(KernelRegistry, OrderAndLookup) {
  const std::vector<std::string> expected{"TBoxKernel",     "TLinearKernel",   "TCosineKernel",   "TSplineKernel",
                                          "TCubicKernel",   "TMitchellKernel", "TLanczosKernel",  "TGaussianKernel",
                                          "TBlackmanKernel", "THannKernel",    "THammingKernel",  "TSinshKernel",
                                          "THermiteKernel"};
  std::vector<std::string> names{"kept"};
  GetKernelClassNames(names);
  ASSERT_EQ(names.size(), expected.size() + 1);
  EXPECT_EQ(names[0], "kept");  // appended, not replaced
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(names[i + 1], expected[i]);
    // Each class creates an instance that carries its registered name.
    EXPECT_EQ(KernelRegistry()[i].Create()->ClassName(), expected[i]);
    EXPECT_EQ(KernelClassAt(static_cast<int>(i)).Name, expected[i]);
  }
  EXPECT_EQ(FindKernelClass("TLanczosKernel"), &KernelRegistry()[6]);
  EXPECT_EQ(FindKernelClass("tlanczoskernel"), nullptr);
  EXPECT_EQ(FindKernelClass("TLanczos"), nullptr);
  try {
    KernelClassAt(13);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (13)");
  }
  EXPECT_THROW(KernelClassAt(-1), EListError);
}

TEST(Kernels, SupportAndClampFlags) {
  struct Row {
    const char* Name;
    float Support;
    bool Clamp;
  };
  const Row rows[] = {{"TBoxKernel", 1, false},     {"TLinearKernel", 1, false},  {"TCosineKernel", 1, false},
                      {"TSplineKernel", 2, true},   {"TCubicKernel", 2, true},    {"TMitchellKernel", 2, true},
                      {"TLanczosKernel", 3, true},  {"TGaussianKernel", 3, true}, {"TBlackmanKernel", 3, true},
                      {"THannKernel", 3, true},     {"THammingKernel", 3, true},  {"TSinshKernel", 3, true},
                      {"THermiteKernel", 2, true}};
  for (const Row& r : rows) {
    auto k = FindKernelClass(r.Name)->Create();
    EXPECT_EQ(k->Support(), r.Support) << r.Name;
    EXPECT_EQ(k->NeedsClamp(), r.Clamp) << r.Name;
  }
}

TEST(Kernels, SimpleShapesAtExactPoints) {
  TBoxKernel box;
  EXPECT_EQ(box.KernelValue(-0.5f), 1.0f);
  EXPECT_EQ(box.KernelValue(0.5f), 1.0f);
  EXPECT_EQ(box.KernelValue(0.50001f), 0.0f);
  EXPECT_EQ(box.KernelValue(-0.50001f), 0.0f);

  TLinearKernel tent;
  EXPECT_EQ(tent.KernelValue(0.0f), 1.0f);
  EXPECT_EQ(tent.KernelValue(0.25f), 0.75f);
  EXPECT_EQ(tent.KernelValue(-0.25f), 0.75f);
  EXPECT_EQ(tent.KernelValue(-1.0f), 0.0f);
  EXPECT_EQ(tent.KernelValue(1.0f), 0.0f);
  EXPECT_EQ(tent.KernelValue(-1.5f), 0.0f);

  // The Hermite cubic interpolates: 1 at 0, 0 at the other integers.
  THermiteKernel hermite;
  for (float x : {-2.0f, -1.0f, 1.0f, 2.0f}) EXPECT_EQ(hermite.KernelValue(x), 0.0f) << x;
  EXPECT_EQ(hermite.KernelValue(0.0f), 1.0f);
}

TEST(Kernels, ValuesFollowTheFormulas) {
  const std::vector<TKernelCase> cases{
      {"TBoxKernel", [](long double x) -> long double { return (x >= -0.5L && x <= 0.5L) ? 1 : 0; }},
      {"TLinearKernel", [](long double x) -> long double { return std::fabs(x) < 1 ? 1 - std::fabs(x) : 0; }},
      {"TCosineKernel",
       [](long double x) -> long double { return std::fabs(x) < 1 ? (std::cos(kPiL * x) + 1) / 2 : 0; }},
      {"TSplineKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         if (a < 1) return 0.5L * a * a * a - a * a + 2.0L / 3.0L;
         if (a < 2) return (2 - a) * (2 - a) * (2 - a) / 6;
         return 0;
       }},
      {"TCubicKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x), c = -0.5L;
         if (a < 1) return (c + 2) * a * a * a - (c + 3) * a * a + 1;
         if (a < 2) return c * (a * a * a - 5 * a * a + 8 * a - 4);
         return 0;
       }},
      {"TMitchellKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         if (a < 1) return (7 * a * a * a - 12 * a * a + 16.0L / 3) / 6;
         if (a < 2) return (-7.0L / 3 * a * a * a + 12 * a * a - 20 * a + 32.0L / 3) / 6;
         return 0;
       }},
      {"TLanczosKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         return a < 3 ? RefSinc(a) * static_cast<float>(RefSinc(a / 3)) : 0;
       }},
      {"TGaussianKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         return a < 3 ? RefSinc(a) * static_cast<float>(std::pow(2.0L, -a * a / static_cast<long double>(1.33f))) : 0;
       }},
      {"TBlackmanKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         const float w = static_cast<float>(0.42L + 0.5L * std::cos(kPiL * a / 3) + 0.08L * std::cos(2 * kPiL * a / 3));
         return a < 3 ? RefSinc(a) * w : 0;
       }},
      {"THannKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         return a < 3 ? RefSinc(a) * static_cast<float>(0.5L + 0.5L * std::cos(kPiL * a / 3)) : 0;
       }},
      {"THammingKernel",
       [](long double x) -> long double {
         const long double a = std::fabs(x);
         return a < 3 ? RefSinc(a) * static_cast<float>(0.54L + 0.46L * std::cos(kPiL * a / 3)) : 0;
       }},
      {"TSinshKernel",
       [](long double x) -> long double {
         return x == 0 ? 1 : 0.5L * std::sin(kPiL * x) / std::sinh(0.5L * kPiL * x);
       }},
      {"THermiteKernel",
       [](long double x) -> long double {
         // Tension 0, bias 0: the Catmull-Rom-like cubic with k = g = f = 1/2, piece by piece.
         const long double i = std::floor(x), t = x - i;
         const long double h = -2 * t * t * t + 3 * t * t, m = t + t * t * t - 2 * t * t, d = t * t * t - t * t;
         if (i == 0) return (1 - h) - d / 2;
         if (i == 1) return -m / 2;
         if (i == -2) return d / 2;
         if (i == -1) return h + m / 2;
         return 0;
       }},
  };
  for (const TKernelCase& c : cases) ExpectMatches(*FindKernelClass(c.Name)->Create(), c.Ref);
}

TEST(Kernels, ParametersChangeValuesAndNotifyTheObserver) {
  TNotifiablePersistent observer;
  int changes = 0;
  observer.OnChange = [&](TObject*) { ++changes; };

  TLanczosKernel lanczos;
  lanczos.SetObserver(&observer);
  lanczos.SetWidth(2.0f);
  EXPECT_EQ(changes, 1);
  lanczos.SetWidth(2.0f);  // same value: no notification
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(lanczos.Support(), 2.0f);
  EXPECT_EQ(lanczos.KernelValue(2.5f), 0.0f);
  EXPECT_NEAR(lanczos.KernelValue(0.5f), RefSinc(0.5L) * RefSinc(0.25L), 1e-6);
  lanczos.SetWidth(9.0f);  // capped
  EXPECT_EQ(lanczos.Width(), 4.0f);
  EXPECT_EQ(changes, 2);

  TCubicKernel cubic;
  cubic.SetObserver(&observer);
  cubic.SetCoeff(-1.0f);
  EXPECT_EQ(changes, 3);
  // a = 1.5 with Coeff -1: -1 * (3.375 - 11.25 + 12 - 4) = -0.125
  EXPECT_EQ(cubic.KernelValue(1.5f), -0.125f);

  THermiteKernel hermite;
  hermite.SetObserver(&observer);
  hermite.SetTension(1.0f);  // k = 0: the plain smoothstep on 0..1
  hermite.SetBias(0.5f);
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(hermite.KernelValue(0.5f), 0.5f);  // 1 - h with h = 0.5
  EXPECT_EQ(hermite.KernelValue(1.5f), 0.0f);

  TGaussianKernel gauss;
  gauss.SetSigma(2.0f);
  EXPECT_NEAR(gauss.KernelValue(1.0f), 0.0f, 1e-7);  // sinc(1) = 0 whatever the window
  EXPECT_NEAR(gauss.WindowAt(1.0f), std::sqrt(0.5), 1e-7);
  gauss.SetSigma(0.0f);
  try {
    gauss.WindowAt(1.0f);
    FAIL() << "no error";
  } catch (const EZeroDivide& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero");
  }

  TSinshKernel sinsh;
  sinsh.SetCoeff(0.0f);
  EXPECT_THROW(sinsh.KernelValue(1.0f), EInvalidOp);  // 0 / 0
  EXPECT_EQ(sinsh.KernelValue(0.0f), 1.0f);
}

TEST(Kernels, AssignAndCloneCopyPublishedParameters) {
  TGaussianKernel a;
  a.SetWidth(2.5f);
  a.SetSigma(0.75f);
  auto copy = a.Clone();
  auto* g = dynamic_cast<TGaussianKernel*>(copy.get());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Width(), 2.5f);
  EXPECT_EQ(g->Sigma(), 0.75f);

  // Across the windowed-sinc family only the shared Width travels.
  THannKernel hann;
  hann.Assign(a);
  EXPECT_EQ(hann.Width(), 2.5f);
  TCubicKernel cubic;
  cubic.Assign(a);  // nothing in common
  EXPECT_EQ(cubic.Coeff(), -0.5f);
}
