// Faces of products made from the model meet without seams for any size and angle in the allowed
// ranges: a seeded random sample of kinds, sizes, yaws and pitches (and scenes of two products)
// is made into templates, written to a scratch folder and rendered through the real driver with
// grey faces on white and on black, at three picture sizes. Interior seams stay within 8/255, the
// last pixels at the outline within 64/255, and nothing shows outside the product.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../ScratchFolder.h"
#include "../support/SeamCheck.h"
#include "core/IniFile.h"
#include "core/ProductError.h"
#include "core/ProductSection.h"
#include "core/ProductValues.h"
#include "core/SceneGenerator.h"
#include "core/TemplateWriter.h"

namespace quirlon::core {
namespace {

const std::string kRoot = QUIRLON_SOURCE_DIR;
constexpr int kSamples = 200;     // products of one kind
constexpr int kTwoProducts = 16;  // scenes of two
constexpr std::uint64_t kSeed = 20240617;

struct TSample {
  std::string What;
  TProductScene Scene;
};

// The sample, the same on every platform: the engine's output is fixed by the standard, and the
// numbers are made from it here rather than by the library's distributions.
std::vector<TSample> Sample() {
  std::mt19937_64 engine(kSeed);
  auto uniform = [&] { return static_cast<double>(engine() >> 11) * 0x1.0p-53; };
  auto tenth = [](double v) { return std::round(v * 10) / 10; };
  std::vector<TSample> out;
  const auto kinds = ProductKinds();
  while (static_cast<int>(out.size()) < kSamples) {
    const TProductKind& kind = kinds[engine() % kinds.size()];
    // Height over the whole range, width within the allowed proportion of it, depth up to the
    // larger of the two, all spread evenly on a logarithmic scale.
    const double height = tenth(10 * std::pow(100.0, uniform()));
    const double width = tenth(height * std::pow(kMaxProportion, 2 * uniform() - 1));
    const double depth = tenth(kMinDepth * std::pow(std::max(width, height) / kMinDepth, uniform()));
    TProductScene probe;
    probe.Products = {TProduct{std::string(kind.Name), width, height, std::max(depth, kMinDepth)}};
    const TAngleRange yaws = YawRange(probe);
    double yaw = 0;
    do yaw = tenth(yaws.Min + uniform() * (yaws.Max - yaws.Min));
    while (!yaws.Contains(yaw));
    const double pitch = tenth(40 * uniform());
    try {
      const double h = kind.Solid == TSolid::Disc ? 0 : height;
      TSample sample{"", MakeProductScene(kind.Name, width, h, std::max(depth, kMinDepth), yaw, pitch)};
      std::ostringstream what;
      what << kind.Name << " " << width << "x" << h << "x" << depth << " yaw " << yaw << " pitch " << pitch;
      sample.What = what.str();
      out.push_back(sample);
    } catch (const EBadProductValue&) {
      // Out of the allowed ranges (a width beyond 1000 mm, a depth too thin): draw again.
    }
  }
  const char* twos[] = {"04 Two boxes.ini", "07 Book and disc.ini", "11 Jewel case with disc.ini", "14 Two discs.ini"};
  for (int i = 0; i < kTwoProducts; ++i) {
    TProductScene scene = *ReadProductSection(TIniFile(kRoot + "/data/Templates/" + twos[i % 4]));
    scene.SeamRules = kSeamRules;
    const TAngleRange yaws = YawRange(scene);
    scene.Camera.Yaw = tenth(yaws.Min + uniform() * (yaws.Max - yaws.Min));
    scene.Camera.Pitch = tenth(40 * uniform());
    out.push_back({std::string(twos[i % 4]) + " yaw " + std::to_string(scene.Camera.Yaw) + " pitch " +
                       std::to_string(scene.Camera.Pitch),
                   scene});
  }
  return out;
}

struct TShard {
  int Width, Height;
  int Index, Count;  // this shard takes every Count-th sample from Index
};

void PrintTo(const TShard& Shard, std::ostream* Out) {
  *Out << Shard.Width << " x " << Shard.Height << ", part " << Shard.Index + 1 << " of " << Shard.Count;
}

std::string ShardName(const ::testing::TestParamInfo<TShard>& Info) {
  return std::to_string(Info.param.Width) + "x" + std::to_string(Info.param.Height) + "_" +
         std::to_string(Info.param.Index + 1) + "of" + std::to_string(Info.param.Count);
}

class ProductSeams : public ::testing::TestWithParam<TShard> {};

TEST_P(ProductSeams, FacesMeetWithoutSeams) {
  const TShard shard = GetParam();
  const auto samples = Sample();
  testing::ScratchFolder folder;
  int tested = 0, interior = 0;
  for (std::size_t i = shard.Index; i < samples.size(); i += shard.Count) {
    const TSample& sample = samples[i];
    const TGeneratedTemplate generated = GenerateTemplate(sample.Scene);
    folder.Write("01 product.ini", TemplateText(generated, {sample.What}, ProductSectionText(sample.Scene)));
    testing::TSeamLayers layers{generated.Size, generated.Layers, {}};
    for (TGeneratedRole role : generated.Roles) layers.Underlay.push_back(role == TGeneratedRole::Underlay);
    const auto report =
        testing::CheckSeams(folder.Folder(), 1, kRoot + "/data/custom/", shard.Width, shard.Height, layers);
    EXPECT_LE(report.Worst, 8) << sample.What << ", pixel " << report.WorstAt.X << ", " << report.WorstAt.Y;
    EXPECT_LE(report.NearOutline, 64) << sample.What << ", pixel " << report.NearAt.X << ", " << report.NearAt.Y;
    EXPECT_EQ(report.OutsideMarks, 0) << sample.What << ", first at " << report.MarkAt.X << ", " << report.MarkAt.Y;
    ++tested;
    interior += report.Checked > shard.Width * shard.Height / 200;
  }
  EXPECT_GE(tested, (kSamples + kTwoProducts) / shard.Count);
  // Most products show a good area of faces to check (discs and tiles have one face, nothing to meet).
  EXPECT_GE(interior, tested / 2);
}

std::vector<TShard> Shards() {
  std::vector<TShard> out;
  const struct { int Width, Height, Count; } sizes[] = {{200, 150, 2}, {400, 300, 3}, {800, 600, 8}};
  for (const auto& size : sizes)
    for (int i = 0; i < size.Count; ++i) out.push_back({size.Width, size.Height, i, size.Count});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Sample, ProductSeams, ::testing::ValuesIn(Shards()), ShardName);

TEST(ProductSeamSample, CoversTheRanges) {
  const auto samples = Sample();
  ASSERT_EQ(samples.size(), static_cast<std::size_t>(kSamples + kTwoProducts));
  std::set<std::string> kinds;
  int back = 0, steep = 0, thin = 0;
  for (const auto& sample : samples) {
    kinds.insert(sample.Scene.Products[0].Kind);
    back += std::fabs(sample.Scene.Camera.Yaw) > 90;
    steep += sample.Scene.Camera.Pitch > 30;
    thin += sample.Scene.Products[0].Depth > 0 && sample.Scene.Products[0].Depth < 5;
  }
  EXPECT_EQ(kinds.size(), ProductKinds().size());
  EXPECT_GE(back, 30);   // seen from behind
  EXPECT_GE(steep, 40);  // seen from high above
  EXPECT_GE(thin, 30);   // thinner than 5 mm
}

}  // namespace
}  // namespace quirlon::core
