#include "serve/Service.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/JobRunner.h"
#include "core/Platform.h"
#include "core/ProductError.h"
#include "imagefiles/OutputWriters.h"
#include "raster/Parallel.h"

namespace quirlon::serve {

namespace {

using TClock = std::chrono::steady_clock;

// Render time buckets in seconds, as the histogram's "le" labels.
constexpr std::array<double, 10> kRenderBuckets{0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

// Renders at once, with a bounded number of requests waiting their turn: a request that finds the
// queue full, or waits past its deadline, is told to come back later. Waiting requests are served
// first come, first served: a freed slot goes straight to the oldest of them, so that a request
// that just arrived cannot take it first and the slowest answers under load stay near the median.
class TAdmission {
public:
  TAdmission(std::int32_t running, std::int32_t queued) : fMaxRunning(running), fMaxQueued(queued) {}

  enum class TResult { Admitted, QueueFull, TimedOut };

  TResult Enter(TClock::time_point deadline) {
    std::unique_lock lock(fMutex);
    if (fRunning < fMaxRunning && fQueue.empty()) {
      ++fRunning;
      fCrowded.store(fRunning > 1);
      return TResult::Admitted;
    }
    if (static_cast<std::int32_t>(fQueue.size()) >= fMaxQueued) return TResult::QueueFull;
    TWaiter waiter;
    fQueue.push_back(&waiter);
    if (!waiter.Turn.wait_until(lock, deadline, [&] { return waiter.Admitted; })) {
      fQueue.erase(std::find(fQueue.begin(), fQueue.end(), &waiter));
      return TResult::TimedOut;
    }
    return TResult::Admitted;
  }
  void Leave() {
    std::lock_guard lock(fMutex);
    if (fQueue.empty()) {
      --fRunning;
      fCrowded.store(fRunning > 1);
      return;
    }
    // The slot passes on without ever being free. Notified under the lock: the waiter, and so its
    // condition variable, lives until it has taken the lock back.
    TWaiter* next = fQueue.front();
    fQueue.pop_front();
    next->Admitted = true;
    next->Turn.notify_one();
  }
  std::int32_t Running() const {
    std::lock_guard lock(fMutex);
    return fRunning;
  }
  // Set while more than one render runs: the cores are taken, and each render keeps its loops on
  // its own thread (raster::TSerialLoopsWhile).
  const std::atomic<bool>& Crowded() const { return fCrowded; }
  std::int32_t Waiting() const {
    std::lock_guard lock(fMutex);
    return static_cast<std::int32_t>(fQueue.size());
  }

private:
  struct TWaiter {
    std::condition_variable Turn;
    bool Admitted = false;
  };
  const std::int32_t fMaxRunning, fMaxQueued;
  mutable std::mutex fMutex;
  std::deque<TWaiter*> fQueue;  // oldest first
  std::int32_t fRunning = 0;
  std::atomic<bool> fCrowded{false};
};

// Uploaded pictures decoded once while they are sent again and again (the web page sends the same
// artwork with every preview): kept by their bytes, compared whole, at most MaxBytes in all, the
// least recently used given up first. Failed decodes are not kept.
class TUploadCache {
public:
  explicit TUploadCache(std::size_t maxBytes) : fMaxBytes(maxBytes) {}

  std::shared_ptr<const imagefiles::TGraphic> Find(const std::string& bytes) {
    const std::size_t hash = std::hash<std::string>{}(bytes);
    std::lock_guard lock(fMutex);
    for (auto it = fEntries.begin(); it != fEntries.end(); ++it)
      if (it->Hash == hash && it->Bytes == bytes) {
        fEntries.splice(fEntries.begin(), fEntries, it);
        return it->Graphic;
      }
    return nullptr;
  }
  void Add(const std::string& bytes, std::shared_ptr<const imagefiles::TGraphic> graphic) {
    const std::size_t cost = bytes.size() + graphic->Pixels.size() * sizeof(imagefiles::TColor32) + graphic->Mask.size();
    if (cost > fMaxBytes / 4) return;  // one huge picture would push out everything else
    std::lock_guard lock(fMutex);
    fEntries.push_front({std::hash<std::string>{}(bytes), bytes, std::move(graphic), cost});
    fBytes += cost;
    while (fBytes > fMaxBytes) {
      fBytes -= fEntries.back().Cost;
      fEntries.pop_back();
    }
  }

private:
  struct TEntry {
    std::size_t Hash;
    std::string Bytes;
    std::shared_ptr<const imagefiles::TGraphic> Graphic;
    std::size_t Cost;
  };
  const std::size_t fMaxBytes;
  std::mutex fMutex;
  std::list<TEntry> fEntries;  // most recently used first
  std::size_t fBytes = 0;
};

struct TMetrics {
  std::mutex Mutex;
  std::map<int, std::uint64_t> Responses;  // by status
  std::array<std::uint64_t, kRenderBuckets.size()> Buckets{};
  std::uint64_t Renders = 0;
  double RenderSeconds = 0;
  std::atomic<std::uint64_t> TemplateHits{0}, TemplateMisses{0}, PictureHits{0}, PictureMisses{0};

  void Count(int status) {
    std::lock_guard lock(Mutex);
    ++Responses[status];
  }
  void Rendered(double seconds) {
    std::lock_guard lock(Mutex);
    ++Renders;
    RenderSeconds += seconds;
    for (std::size_t i = 0; i < kRenderBuckets.size(); ++i)
      if (seconds <= kRenderBuckets[i]) ++Buckets[i];
  }
};

std::string ReadWhole(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string BucketLabel(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

}  // namespace

struct TRenderService::TImpl {
  TServiceOptions Options;
  TTemplateCatalogue Catalogue;
  std::map<std::int32_t, std::string> Previews;  // by template number
  std::map<std::string, std::pair<std::string, std::string>> Page;  // path: content type, bytes
  std::string TemplatesJsonText, ProductsJsonText;
  httplib::Server Server;
  TAdmission Admission;
  TMetrics Metrics;
  std::atomic<bool> Stopping{false};
  // Shared by all renders: templates parsed once, the templates' own pictures decoded once.
  core::TTemplateCache Templates;
  imagefiles::TPictureCache Pictures{std::size_t{64} << 20};
  TUploadCache Uploads{std::size_t{128} << 20};
  // Layers that requests with the same template, size, settings and pictures share (a shop's
  // products on one template differ only in their covers); as much room as a batch's.
  core::TLayerCache Layers{core::TBatchOptions{}.LayerCacheBytes};
  std::mutex SeenMutex;
  std::set<std::string> SeenTemplates;

  explicit TImpl(TServiceOptions options)
      : Options(Resolved(std::move(options))),
        Catalogue(LoadTemplateCatalogue(Options.DataFolder)),
        Admission(Options.Renders, Options.Queue) {
    for (const TTemplateEntry& entry : Catalogue.Entries)
      if (!entry.PreviewFile.empty()) Previews[entry.Number] = ReadWhole(entry.PreviewFile);
    // The page is read once: no request path ever reaches the file system.
    const std::string web = Options.DataFolder + "web/";
    Page["/"] = {"text/html; charset=utf-8", ReadWhole(web + "index.html")};
    Page["/app.css"] = {"text/css; charset=utf-8", ReadWhole(web + "app.css")};
    Page["/app.js"] = {"text/javascript; charset=utf-8", ReadWhole(web + "app.js")};
    TemplatesJsonText = TemplatesJson(Catalogue);
    ProductsJsonText = ProductsJson();
    Routes();
  }

  static TServiceOptions Resolved(TServiceOptions o) {
    if (o.Renders <= 0) o.Renders = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    if (o.Queue < 0) o.Queue = std::max(16, 4 * o.Renders);
    if (o.Threads <= 0) o.Threads = o.Renders + o.Queue + 4;
    if (o.DataFolder.empty()) o.DataFolder = core::ExecutableFolder();
    if (o.DataFolder.back() != '/') o.DataFolder += '/';
    return o;
  }

  static void Json(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "application/json");
  }
  static void Error(httplib::Response& res, int status, const std::string& message, const std::string& field) {
    Json(res, status, ErrorJson(message, field));
  }
  void Busy(httplib::Response& res, const std::string& message) {
    Error(res, 503, message, "");
    res.set_header("Retry-After", std::to_string(Options.RetryAfterSeconds));
  }

  void Routes() {
    const std::int32_t threads = Options.Threads;
    Server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    Server.set_payload_max_length(static_cast<std::size_t>(Options.MaxRequestBytes));
    Server.set_read_timeout(Options.ReadTimeoutSeconds, 0);
    Server.set_write_timeout(Options.WriteTimeoutSeconds, 0);
    // An answer goes out as headers and body in separate writes: with Nagle's algorithm the body
    // waited for the client's delayed acknowledgement, 40 ms on every request of a kept-alive
    // connection.
    Server.set_tcp_nodelay(true);
    Server.set_keep_alive_timeout(std::min<std::int32_t>(5, Options.ReadTimeoutSeconds));
    Server.set_logger([this](const httplib::Request&, const httplib::Response& res) { Metrics.Count(res.status); });
    // What the library answers by itself (413 for a body over the limit, 400 for a malformed
    // request, 404) carries the same JSON as our own errors.
    Server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
      const std::string message = res.status == 413   ? "The request is larger than the service takes"
                                  : res.status == 404 ? "Nothing here"
                                  : res.status == 408 ? "The request took too long to arrive"
                                                      : "The request is not valid HTTP";
      Error(res, res.status, message, "");
      return httplib::Server::HandlerResponse::Handled;
    }));
    Server.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
      std::string what = "unknown exception";
      try {
        std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      std::cerr << "quirlon-serve: internal error on " << req.method << " " << req.path << ": " << what << std::endl;
      Error(res, 500, "Internal error (logged)", "");
    });

    for (const auto& [path, page] : Page) {
      Server.Get(path, [this, path = path](const httplib::Request&, httplib::Response& res) {
        const auto& [type, bytes] = Page.at(path);
        if (bytes.empty()) return Error(res, 404, "The web page is not installed beside the program", "");
        res.set_content(bytes, type);
      });
    }
    Server.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
      if (Stopping) return Busy(res, "The service is stopping");
      res.set_content("ok\n", "text/plain");
    });
    Server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(MetricsText(), "text/plain; version=0.0.4");
    });
    Server.Get("/templates", [this](const httplib::Request&, httplib::Response& res) {
      Json(res, 200, TemplatesJsonText);
    });
    Server.Get("/products", [this](const httplib::Request&, httplib::Response& res) {
      Json(res, 200, ProductsJsonText);
    });
    Server.Get(R"(/templates/([0-9]{1,6})/preview)", [this](const httplib::Request& req, httplib::Response& res) {
      const auto found = Previews.find(std::stoi(req.matches[1].str()));
      if (found == Previews.end() || found->second.empty())
        return Error(res, 404, "There is no preview of template " + req.matches[1].str(), "");
      res.set_content(found->second, "image/jpeg");
      res.set_header("Cache-Control", "max-age=3600");
    });
    Server.Post("/render", [this](const httplib::Request& req, httplib::Response& res) { Render(req, res); });
  }

  static std::vector<TFormPart> PartsOf(const httplib::Request& req) {
    std::vector<TFormPart> parts;
    if (req.is_multipart_form_data()) {
      for (const auto& [name, file] : req.files) parts.push_back({name, file.filename, file.content_type, file.content});
    } else {
      for (const auto& [name, value] : req.params) parts.push_back({name, {}, {}, value});
    }
    return parts;
  }

  void Render(const httplib::Request& req, httplib::Response& res) {
    const TClock::time_point arrived = TClock::now();
    if (Stopping) {
      res.set_header("Connection", "close");
      return Busy(res, "The service is stopping");
    }
    const std::string type = req.get_header_value("Content-Type");
    if (!req.is_multipart_form_data() && type.rfind("application/x-www-form-urlencoded", 0) != 0)
      return Error(res, 400, "POST /render takes a multipart form (multipart/form-data)", "");
    switch (Admission.Enter(arrived + std::chrono::seconds(Options.RequestSeconds))) {
      case TAdmission::TResult::QueueFull: return Busy(res, "Every render slot and queue place is taken");
      case TAdmission::TResult::TimedOut: return Busy(res, "No render slot came free in time");
      case TAdmission::TResult::Admitted: break;
    }
    struct TLeave {
      TAdmission& Admission;
      ~TLeave() { Admission.Leave(); }
    } leave{Admission};
    // While another render runs the cores are taken: this one keeps its loops on its own thread, as
    // the jobs of a batch do, instead of queueing and spinning for the one shared helper thread.
    // Alone, it lends rows to the helper, for its latency. Decided loop by loop, as renders come and go.
    const raster::TSerialLoopsWhile serial(Admission.Crowded());
    try {
      const TFormJob form = ParseRenderForm(PartsOf(req), Catalogue, Options.Limits, [this](const TFormPart& part) {
        if (auto kept = Uploads.Find(part.Data)) {
          ++Metrics.PictureHits;
          return kept;
        }
        ++Metrics.PictureMisses;
        auto decoded = DecodeFormPicture(part, Options.Limits);
        Uploads.Add(part.Data, decoded);
        return decoded;
      });
      if (!form.TemplateFile.empty()) {
        std::lock_guard lock(SeenMutex);
        (SeenTemplates.insert(form.TemplateFile).second ? Metrics.TemplateMisses : Metrics.TemplateHits)++;
      }
      core::TJobResources resources{&Pictures, &Templates, &Layers};
      const core::TJobPicture picture = core::RenderJobPicture(form.Job, form.TemplateFile, resources);
      const std::vector<std::uint8_t> bytes =
          imagefiles::EncodePicture(*picture.Picture, form.Format, form.Job.Output.SaveOptions());
      Metrics.Rendered(std::chrono::duration<double>(TClock::now() - arrived).count());
      res.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), ContentTypeOf(form.Format));
    } catch (const EFormError& e) {
      Error(res, e.Status(), e.what(), e.Field());
    } catch (const core::EJobValue& e) {
      Error(res, 400, e.what(), e.Key());
    } catch (const core::EBadProductValue& e) {
      Error(res, 400, e.what(), "product");
    } catch (const EInvalidGraphic& e) {
      Error(res, 422, e.what(), "");
    } catch (const EOutOfResources& e) {
      Error(res, 413, e.what(), "");
    } catch (const std::bad_alloc&) {
      Busy(res, "Not enough memory for this render now");
    }
  }

  std::string MetricsText() {
    std::ostringstream out;
    std::lock_guard lock(Metrics.Mutex);
    out << "# HELP quirlon_requests_total HTTP responses by status.\n# TYPE quirlon_requests_total counter\n";
    for (const auto& [status, count] : Metrics.Responses)
      out << "quirlon_requests_total{status=\"" << status << "\"} " << count << "\n";
    out << "# HELP quirlon_render_seconds Time from request to encoded picture of successful renders.\n"
           "# TYPE quirlon_render_seconds histogram\n";
    for (std::size_t i = 0; i < kRenderBuckets.size(); ++i)
      out << "quirlon_render_seconds_bucket{le=\"" << BucketLabel(kRenderBuckets[i]) << "\"} " << Metrics.Buckets[i]
          << "\n";
    out << "quirlon_render_seconds_bucket{le=\"+Inf\"} " << Metrics.Renders << "\n";
    out << "quirlon_render_seconds_sum " << Metrics.RenderSeconds << "\n";
    out << "quirlon_render_seconds_count " << Metrics.Renders << "\n";
    out << "# HELP quirlon_renders_in_flight Renders running now.\n# TYPE quirlon_renders_in_flight gauge\n"
        << "quirlon_renders_in_flight " << Admission.Running() << "\n";
    out << "# HELP quirlon_renders_queued Requests waiting for a render slot.\n# TYPE quirlon_renders_queued gauge\n"
        << "quirlon_renders_queued " << Admission.Waiting() << "\n";
    out << "# HELP quirlon_template_cache_hits_total Renders whose template was already parsed.\n"
           "# TYPE quirlon_template_cache_hits_total counter\n"
        << "quirlon_template_cache_hits_total " << Metrics.TemplateHits << "\n";
    out << "# HELP quirlon_template_cache_misses_total Renders that parsed their template first.\n"
           "# TYPE quirlon_template_cache_misses_total counter\n"
        << "quirlon_template_cache_misses_total " << Metrics.TemplateMisses << "\n";
    out << "# HELP quirlon_picture_cache_hits_total Uploaded pictures that were already decoded.\n"
           "# TYPE quirlon_picture_cache_hits_total counter\n"
        << "quirlon_picture_cache_hits_total " << Metrics.PictureHits << "\n";
    out << "# HELP quirlon_picture_cache_misses_total Uploaded pictures decoded for their request.\n"
           "# TYPE quirlon_picture_cache_misses_total counter\n"
        << "quirlon_picture_cache_misses_total " << Metrics.PictureMisses << "\n";
    out << "# HELP quirlon_layer_cache_hits_total Layers taken as an earlier request built them.\n"
           "# TYPE quirlon_layer_cache_hits_total counter\n"
        << "quirlon_layer_cache_hits_total " << Layers.Hits() << "\n";
    return out.str();
  }
};

TRenderService::TRenderService(TServiceOptions Options) : fImpl(std::make_unique<TImpl>(std::move(Options))) {}

TRenderService::~TRenderService() = default;

const TServiceOptions& TRenderService::Options() const { return fImpl->Options; }

std::int32_t TRenderService::Bind() {
  const TServiceOptions& o = fImpl->Options;
  const std::string address = o.Host + ":" + std::to_string(o.Port);
  const int port = o.Port == 0 ? fImpl->Server.bind_to_any_port(o.Host)
                               : (fImpl->Server.bind_to_port(o.Host, o.Port) ? o.Port : -1);
  if (port <= 0) throw std::runtime_error("Cannot listen on " + address + " (in use, or not an address of this machine)");
  return port;
}

void TRenderService::Serve() { fImpl->Server.listen_after_bind(); }

void TRenderService::Stop() {
  fImpl->Stopping = true;
  fImpl->Server.stop();
}

}  // namespace quirlon::serve
