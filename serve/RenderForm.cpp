#include "serve/RenderForm.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>

#include "core/Platform.h"
#include "core/ProductError.h"
#include "core/ProductKind.h"
#include "core/ProductSection.h"
#include "core/Slots.h"
#include "core/Template.h"
#include "imagefiles/Picture.h"

namespace quirlon::serve {

namespace {

// Keys a client may not set: they name files or folders on this machine, raise the limits the
// operator set for every request, or ask for an animation, which one answer of one picture is not.
const std::set<std::string, std::less<>> kRefusedKeys = {"output", "templates", "save-template", "max-megapixels",
                                                          "memory-limit", "turntable"};

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool TooLargePicture(const std::string& message) {
  return message.find("Picture is too large (") != std::string::npos;
}

std::string Millimetres(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

// "paperback 127 x 203 x 20 mm" (several products joined with " and "); "" without a section.
std::string ProductDescription(const std::string& file) {
  try {
    const std::optional<core::TProductScene> scene = core::ReadProductSection(core::ReadTemplateIni(file));
    if (!scene) return {};
    std::string text;
    for (const core::TProduct& product : scene->Products) {
      if (!text.empty()) text += " and ";
      text += product.Kind + " " + Millimetres(product.Width) + " x " + Millimetres(product.Height);
      if (product.Depth > 0) text += " x " + Millimetres(product.Depth);
      text += " mm";
    }
    return text;
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

std::shared_ptr<const imagefiles::TGraphic> DecodeFormPicture(const TFormPart& part, const TFormLimits& limits) {
  if (part.Data.empty()) throw EFormError(400, part.Name, "The picture for " + part.Name + " is empty");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(part.Data.data());
  // Messages name the part, never the client's file name (which may hold anything).
  try {
    return std::make_shared<const imagefiles::TGraphic>(
        imagefiles::DecodePictureBytes(std::span(bytes, part.Data.size()), part.Name, limits.MaxPicturePixels));
  } catch (const EInvalidGraphic& e) {
    throw EFormError(TooLargePicture(e.what()) ? 413 : 422, part.Name, e.what());
  }
}

const TTemplateEntry* TTemplateCatalogue::Find(const std::string& Reference) const {
  if (AllDigits(Reference)) {
    const std::size_t first = Reference.find_first_not_of('0');
    if (first == std::string::npos || Reference.size() - first > 6) return nullptr;
    const long number = std::stol(Reference.substr(first));
    if (number < 1 || number > static_cast<long>(Entries.size())) return nullptr;
    return &Entries[static_cast<std::size_t>(number - 1)];
  }
  for (const TTemplateEntry& entry : Entries)
    if (entry.Name == Reference) return &entry;
  return nullptr;
}

TTemplateCatalogue LoadTemplateCatalogue(const std::string& DataFolder) {
  std::string folder = DataFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  TTemplateCatalogue catalogue;
  catalogue.CustomFolder = folder + core::kCustomFolder;
  const std::string templates = folder + core::kTemplatesFolder;
  std::int32_t number = 0;
  for (const std::string& name : core::ListTemplates(templates)) {
    TTemplateEntry entry;
    entry.Number = ++number;
    entry.Name = core::TemplateDisplayName(name);
    entry.File = templates + name;
    try {
      const core::TTemplate parsed = core::ReadTemplateFile(entry.File);
      entry.Width = parsed.Size.Width;
      entry.Height = parsed.Size.Height;
      for (int slot : core::TemplateSlots(parsed)) entry.Slots.emplace_back(core::FindSlot(slot)->Option);
    } catch (const std::exception&) {
      // Listed all the same, so that numbers stay as the command line counts them; a render of it
      // reports what is wrong.
    }
    entry.Product = ProductDescription(entry.File);
    const std::string preview = core::TemplatePreviewPath(folder, entry.Name);
    if (std::FILE* f = std::fopen(preview.c_str(), "rb")) {
      std::fclose(f);
      entry.PreviewFile = preview;
    }
    catalogue.Entries.push_back(std::move(entry));
  }
  if (catalogue.Entries.empty()) throw std::runtime_error("Template folder \"" + templates + "\" holds no templates");
  return catalogue;
}

TFormJob ParseRenderForm(const std::vector<TFormPart>& Parts, const TTemplateCatalogue& Catalogue,
                         const TFormLimits& Limits, const TPartDecoder& Decode) {
  const auto decodePart = [&](const TFormPart& part) {
    return Decode ? Decode(part) : DecodeFormPicture(part, Limits);
  };
  TFormJob form;
  core::TJob& job = form.Job;
  job.Request.MaxPicturePixels = Limits.MaxPicturePixels;
  job.Request.MemoryBudget = Limits.MemoryBudget;
  job.Request.CustomFolder = Catalogue.CustomFolder;
  std::string templateRef = "1";
  std::set<std::string, std::less<>> seen;
  for (const TFormPart& part : Parts) {
    const std::string& key = part.Name;
    if (key.empty()) throw EFormError(400, "", "A form part has no name");
    if (!seen.insert(key).second) throw EFormError(400, key, "The form gives " + key + " more than once");
    const int slot = core::SourceSlotIndex(key);
    const bool isSlot = slot > 0 && core::FindJobKey(key) != nullptr &&
                        core::FindJobKey(key)->Kind == core::TJobKeyKind::Source;
    if (part.IsFile()) {
      if (key == "wrap") {
        job.Product.WrapPicture = decodePart(part);
      } else if (isSlot) {
        job.Request.Sources[static_cast<std::size_t>(slot - 1)] = core::TSlotSource::OfPicture(decodePart(part));
      } else {
        throw EFormError(400, key, "A picture goes in a part named by its slot (front, side, top, ...) or wrap, not " + key);
      }
      continue;
    }
    const core::TJobKey* known = core::FindJobKey(key);
    if (known == nullptr) throw EFormError(400, key, "Unknown setting " + key);
    if (kRefusedKeys.contains(key) || known->Kind == core::TJobKeyKind::File ||
        known->Kind == core::TJobKeyKind::Folder)
      throw EFormError(400, key,
                       key == "wrap" ? std::string("wrap takes a picture: send it as a file part")
                                     : "The service does not take " + key);
    if (key == "template") {
      const TTemplateEntry* entry = Catalogue.Find(part.Data);
      if (entry == nullptr)
        throw EFormError(400, key, "There is no template '" + part.Data + "': give a number from 1 to " +
                                       std::to_string(Catalogue.Entries.size()) + " or a name (GET /templates)");
      templateRef = std::to_string(entry->Number);
      continue;
    }
    try {
      if (isSlot) {
        // Text for a slot is a colour; a picture comes only as a file part.
        try {
          job.Request.Sources[static_cast<std::size_t>(slot - 1)] =
              core::TSlotSource::OfColour(core::ParseColourValue(key, part.Data));
        } catch (const core::EJobValue&) {
          throw EFormError(400, key, key + " takes a colour (#RRGGBB or a colour name) as text, not '" + part.Data +
                                         "'; send a picture as a file part named " + key);
        }
        continue;
      }
      core::ApplyJobValue(job, key, part.Data);
    } catch (const core::EJobValue& e) {
      throw EFormError(400, e.Key(), e.Key() + e.Detail());
    }
  }
  if (job.Request.Width > Limits.MaxCanvasSide || job.Request.Height > Limits.MaxCanvasSide)
    throw EFormError(413, job.Request.Width > Limits.MaxCanvasSide ? "width" : "height",
                     "The picture may be at most " + std::to_string(Limits.MaxCanvasSide) + " pixels a side, not " +
                         std::to_string(job.Request.Width) + " x " + std::to_string(job.Request.Height));
  if (job.Product.Kind.empty()) {
    const TTemplateEntry* entry = Catalogue.Find(templateRef);
    if (entry == nullptr) throw EFormError(400, "template", "There is no template " + templateRef);
    form.TemplateFile = entry->File;
    job.Template = templateRef;
    // One side given: the other follows the template, and must fit the limit too.
    if (job.WidthGiven != job.HeightGiven && entry->Width > 0 && entry->Height > 0 && !job.Product.UsesModel()) {
      core::TJob fitted = job;
      core::FitCanvasToTemplate(fitted, entry->Width, entry->Height);
      if (fitted.Request.Width > Limits.MaxCanvasSide || fitted.Request.Height > Limits.MaxCanvasSide)
        throw EFormError(413, job.WidthGiven ? "width" : "height",
                         "At the template's proportions the picture would be " +
                             std::to_string(fitted.Request.Width) + " x " + std::to_string(fitted.Request.Height) +
                             ", more than " + std::to_string(Limits.MaxCanvasSide) + " pixels a side");
    }
  }
  form.Format = job.Output.Format.value_or(imagefiles::TOutputFormat::Png);
  return form;
}

std::string ContentTypeOf(imagefiles::TOutputFormat Format) {
  switch (Format) {
    case imagefiles::TOutputFormat::Png: return "image/png";
    case imagefiles::TOutputFormat::Jpeg: return "image/jpeg";
    case imagefiles::TOutputFormat::Bmp: return "image/bmp";
    case imagefiles::TOutputFormat::WebP: return "image/webp";
    case imagefiles::TOutputFormat::Tiff: return "image/tiff";
  }
  return "application/octet-stream";
}

std::string JsonString(const std::string& Text) {
  std::string json = "\"";
  for (char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string ErrorJson(const std::string& Message, const std::string& Field) {
  return "{\"error\": " + JsonString(Message) + ", \"field\": " + JsonString(Field) + "}\n";
}

std::string TemplatesJson(const TTemplateCatalogue& Catalogue) {
  std::string json = "[";
  for (const TTemplateEntry& entry : Catalogue.Entries) {
    json += entry.Number == 1 ? "\n" : ",\n";
    json += "  {\"number\": " + std::to_string(entry.Number) + ", \"name\": " + JsonString(entry.Name) +
            ", \"slots\": [";
    for (std::size_t s = 0; s < entry.Slots.size(); ++s) json += (s == 0 ? "" : ", ") + JsonString(entry.Slots[s]);
    json += "], \"product\": " + (entry.Product.empty() ? std::string("null") : JsonString(entry.Product)) + "}";
  }
  return json + "\n]\n";
}

std::string ProductsJson() {
  std::string json = "[";
  bool first = true;
  for (const core::TProductKind& kind : core::ProductKinds()) {
    json += first ? "\n" : ",\n";
    first = false;
    json += "  {\"name\": " + JsonString(std::string(kind.Name)) + ", \"width\": " + Millimetres(kind.Width) +
            ", \"height\": " + Millimetres(kind.Height) + ", \"depth\": " + Millimetres(kind.Depth) + "}";
  }
  return json + "\n]\n";
}

}  // namespace quirlon::serve
