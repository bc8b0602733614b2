#pragma once
// What the render service makes of a request: the parts of a POST /render form turned into one
// job, and the catalogue of bundled templates a request may name. Pure functions on values: no
// request value ever becomes a path (templates are looked up in the catalogue, pictures come only
// from uploaded parts and are decoded from memory).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Job.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"

namespace quirlon::serve {

// A form part as the HTTP layer hands it over. File parts carry a file name or a content type.
struct TFormPart {
  std::string Name;
  std::string FileName;
  std::string ContentType;
  std::string Data;
  bool IsFile() const { return !FileName.empty() || !ContentType.empty(); }
};

// A request the service refuses: the HTTP status (400 bad input, 413 too large, 422 a picture that
// does not decode) and the form field at fault ("" for the request as a whole).
class EFormError : public Exception {
public:
  EFormError(int Status, std::string Field, const std::string& Message)
      : Exception(Message), fStatus(Status), fField(std::move(Field)) {}
  int Status() const { return fStatus; }
  const std::string& Field() const { return fField; }

private:
  int fStatus;
  std::string fField;
};

// What one request may ask for. The defaults keep a single render within a few hundred megabytes.
struct TFormLimits {
  std::int64_t MaxPicturePixels = 25LL * 1000 * 1000;  // each uploaded picture, checked from its header
  std::int32_t MaxCanvasSide = 4096;                    // width and height of the answer
  std::int64_t MemoryBudget = std::int64_t{1} << 30;    // the layers of one render
};

struct TTemplateEntry {
  std::int32_t Number = 0;  // from 1, as the command line and the window count
  std::string Name;         // display name
  std::string File;         // the bundled file; never shown to a client
  std::vector<std::string> Slots;  // slot keys the template shows ("front", "side")
  std::string Product;      // "paperback 127 x 203 x 20 mm", "" without a [Product] section
  std::int32_t Width = 0, Height = 0;  // its own coordinate space, for one-sided canvas sizes
  std::string PreviewFile;  // its preview picture, "" when there is none
};

struct TTemplateCatalogue {
  std::vector<TTemplateEntry> Entries;
  std::string CustomFolder;  // the "customfile" pictures the templates name
  // The entry a request names by number ("3", "03") or by exact display name; nullptr otherwise.
  const TTemplateEntry* Find(const std::string& Reference) const;
};

// The bundled templates of DataFolder ("…/Templates/", "…/Pics/", "…/custom/"). Throws
// std::runtime_error when the folder holds none.
TTemplateCatalogue LoadTemplateCatalogue(const std::string& DataFolder);

// One request's job, ready for core::RenderJobPicture.
struct TFormJob {
  core::TJob Job;
  std::string TemplateFile;  // "" for a product from a kind
  imagefiles::TOutputFormat Format = imagefiles::TOutputFormat::Png;
};

// Decodes an uploaded picture part (a cache may answer instead); throws as DecodeFormPicture.
using TPartDecoder = std::function<std::shared_ptr<const imagefiles::TGraphic>(const TFormPart& Part)>;

// The picture of a file part, decoded from memory under Limits' pixel limit. Throws EFormError:
// 400 for an empty part, 413 for a picture over the limits, 422 for one that does not decode.
std::shared_ptr<const imagefiles::TGraphic> DecodeFormPicture(const TFormPart& Part, const TFormLimits& Limits);

// The job of a POST /render form. Text parts are job keys with their values; file parts are
// pictures named by slot key or "wrap". Keys that name files or folders, or that change the
// service's own limits, are refused; slot keys given as text take only colours. Throws EFormError.
// Pictures go through Decode when given, else DecodeFormPicture.
TFormJob ParseRenderForm(const std::vector<TFormPart>& Parts, const TTemplateCatalogue& Catalogue,
                         const TFormLimits& Limits, const TPartDecoder& Decode = {});

// The content type the answer of Format carries.
std::string ContentTypeOf(imagefiles::TOutputFormat Format);

// Text as a JSON string, quotes included.
std::string JsonString(const std::string& Text);
// {"error": Message, "field": Field}
std::string ErrorJson(const std::string& Message, const std::string& Field);
// GET /templates: [{"number", "name", "slots", "product"}]
std::string TemplatesJson(const TTemplateCatalogue& Catalogue);
// GET /products: [{"name", "width", "height", "depth"}], the kinds with their usual size in mm.
std::string ProductsJson();

}  // namespace quirlon::serve
