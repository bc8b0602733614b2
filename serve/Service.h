#pragma once
// The render service: HTTP on cpp-httplib in front of core::RenderJobPicture. Stateless between
// requests but for caches and counters, so that any number of them can stand behind a load balancer.
//
//   POST /render                 multipart form: pictures by slot (or wrap), settings by job key
//   GET  /templates              the bundled templates as JSON
//   GET  /templates/N/preview    a template's preview picture (JPEG)
//   GET  /products               the product kinds as JSON
//   GET  /healthz                "ok" while the service takes requests
//   GET  /metrics                Prometheus text
//   GET  /                       the web page (and its /app.css, /app.js)
#include <cstdint>
#include <memory>
#include <string>

#include "serve/RenderForm.h"

namespace quirlon::serve {

struct TServiceOptions {
  std::string Host = "127.0.0.1";
  std::int32_t Port = 8080;  // 0: any free port (Bind says which)
  std::int32_t Renders = 0;  // renders at once; 0: one per processor
  std::int32_t Queue = -1;   // requests that may wait for a render; -1: 4 x Renders, at least 16; beyond: 503
  std::int32_t Threads = 0;  // connections served at once; 0: Renders + Queue + 4, so that health
                             // checks and 503s are answered while every render slot is taken
  std::int64_t MaxRequestBytes = std::int64_t{32} << 20;
  TFormLimits Limits;
  std::int32_t RequestSeconds = 60;       // the longest a request may wait for a render: then 503
  std::int32_t ReadTimeoutSeconds = 10;   // a client that sends nothing for this long is dropped
  std::int32_t WriteTimeoutSeconds = 10;  // a client that takes nothing for this long is dropped
  std::int32_t RetryAfterSeconds = 2;     // what a 503 asks the client to wait
  std::string DataFolder;                 // Templates/, Pics/, custom/, web/; "": beside the program
};

class TRenderService {
public:
  // Reads the template catalogue and the web page; throws std::runtime_error when the data folder
  // holds no templates.
  explicit TRenderService(TServiceOptions Options);
  ~TRenderService();
  TRenderService(const TRenderService&) = delete;
  TRenderService& operator=(const TRenderService&) = delete;

  // Binds the listening socket; returns the port. Throws std::runtime_error naming the address
  // when it cannot.
  std::int32_t Bind();
  // Answers requests until Stop, then returns once the requests in flight are answered.
  void Serve();
  // Refuses new connections and requests, lets those in flight finish. Safe from any thread.
  void Stop();

  const TServiceOptions& Options() const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace quirlon::serve
