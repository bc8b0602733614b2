// The render form's parser on arbitrary parts: it either makes a job or refuses with a status
// the service answers (400, 413, 422) and never throws anything else; a job it makes never names
// a file of this machine: its template is one of the catalogue's, its pictures are decoded ones,
// and it writes nothing.
//
// Input: parts separated by a zero byte, each "name=value"; a name starting with '@' is a file
// part (the picture bytes follow the '=').
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "serve/RenderForm.h"

namespace {

quirlon::serve::TTemplateCatalogue Catalogue() {
  quirlon::serve::TTemplateCatalogue catalogue;
  for (int i = 1; i <= 3; ++i) {
    quirlon::serve::TTemplateEntry entry;
    entry.Number = i;
    entry.Name = "0" + std::to_string(i) + " Box";
    entry.File = "bundled-" + std::to_string(i) + ".ini";
    entry.Width = 800;
    entry.Height = 600 * i;
    catalogue.Entries.push_back(entry);
  }
  return catalogue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const quirlon::serve::TTemplateCatalogue catalogue = Catalogue();
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  std::vector<quirlon::serve::TFormPart> parts;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    const std::size_t eq = part.find('=');
    quirlon::serve::TFormPart p;
    p.Name = part.substr(0, eq);
    p.Data = eq == std::string::npos ? std::string() : part.substr(eq + 1);
    if (!p.Name.empty() && p.Name[0] == '@') {
      p.Name.erase(0, 1);
      p.FileName = "upload";
    }
    parts.push_back(std::move(p));
    start = end + 1;
  }
  quirlon::serve::TFormLimits limits;
  limits.MaxPicturePixels = 1000 * 1000;
  limits.MaxCanvasSide = 2048;
  try {
    const quirlon::serve::TFormJob form = quirlon::serve::ParseRenderForm(parts, catalogue, limits);
    const auto& job = form.Job;
    bool known = form.TemplateFile.empty() && !job.Product.Kind.empty();
    for (const auto& entry : catalogue.Entries) known = known || form.TemplateFile == entry.File;
    if (!known) std::abort();
    if (!job.Output.File.empty() || !job.Product.SaveTemplate.empty() || !job.Product.Wrap.empty() ||
        !job.TemplatesFolder.empty())
      std::abort();
    for (const auto& source : job.Request.Sources)
      if (source.Kind == quirlon::core::TSlotSource::TKind::File) std::abort();
    if (job.Request.Width > limits.MaxCanvasSide || job.Request.Height > limits.MaxCanvasSide) std::abort();
    if (job.Request.MaxPicturePixels != limits.MaxPicturePixels) std::abort();
  } catch (const quirlon::serve::EFormError& e) {
    if (e.Status() != 400 && e.Status() != 413 && e.Status() != 422) std::abort();
  }
  return 0;
}
