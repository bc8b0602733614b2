// Building a scene from the product model: the layers of a product of each kind from its kind,
// size, yaw and pitch, a scene of two products, and a bundled template made again from its
// [Product] section. Each should take well under a millisecond, so that a product render costs
// what a template render does.
#include <benchmark/benchmark.h>

#include <string>

#include "core/IniFile.h"
#include "core/ProductSection.h"
#include "core/SceneGenerator.h"
#include "core/TemplateWriter.h"

namespace {

using namespace quirlon;

// The [Product] sections of two bundled templates, as scenes of the later seam rules.
const char* const kTwoBoxes =
    "[Product]\nkind=box\nsize=170x215x55\nposition=-20,0,30\nturn=-15\nkind2=box\nsize2=170x215x55\n"
    "position2=175,0,0\nturn2=15\nyaw=0\npitch=14\ndistance=3120\ntarget=150,107,40\nfill=0.86,0.60\n";
const char* const kBookAndDisc =
    "[Product]\nkind=hardcover\nsize=160x240x38\nposition=0,0,40\nkind2=disc\nsize2=120x120\n"
    "position2=200,0,-10\nturn2=-20\nyaw=22\npitch=10\ndistance=2640\ntarget=130,110,20\nfill=0.82,0.60\n";

const char* const kKinds[] = {"box", "hardcover", "paperback", "magazine", "jewel-case", "keep-case", "disc", "tile"};

// Arg: index into kKinds. The kind's usual size, seen from its usual view turned by 5 degrees.
void BM_ProductScene(benchmark::State& state) {
  const char* kind = kKinds[state.range(0)];
  const auto usual = core::MakeProductScene(kind);
  for (auto _ : state) {
    const auto scene = core::MakeProductScene(kind, 0, 0, 0, usual.Camera.Yaw + 5, usual.Camera.Pitch);
    benchmark::DoNotOptimize(core::GenerateTemplate(scene));
  }
  state.SetLabel(kind);
}
BENCHMARK(BM_ProductScene)->DenseRange(0, 7)->Unit(benchmark::kMicrosecond);

// A paperback seen from behind, high up: all five seam rules at work on three faces.
void BM_BackCover(benchmark::State& state) {
  for (auto _ : state) {
    const auto scene = core::MakeProductScene("paperback", 127, 203.2, 20.32, -150, 35);
    benchmark::DoNotOptimize(core::GenerateTemplate(scene));
  }
}
BENCHMARK(BM_BackCover)->Unit(benchmark::kMicrosecond);

// Arg: 0 the two boxes, 1 the book and disc; read from a [Product] section each time and written
// out as template text.
void BM_TwoProducts(benchmark::State& state) {
  const auto ini = core::TIniFile::FromText("two.ini", state.range(0) == 0 ? kTwoBoxes : kBookAndDisc);
  for (auto _ : state) {
    const auto scene = core::ReadProductSection(ini);
    const auto generated = core::GenerateTemplate(*scene);
    benchmark::DoNotOptimize(core::TemplateText(generated, {}, core::ProductSectionText(*scene)));
  }
  state.SetLabel(state.range(0) == 0 ? "two boxes" : "book and disc");
}
BENCHMARK(BM_TwoProducts)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
