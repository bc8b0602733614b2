// quirlon-serve: box shots over HTTP (serve/Service.h). Stops gracefully on SIGTERM or SIGINT:
// new connections are refused, requests in flight are answered, then the program exits 0.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "core/Job.h"
#include "core/Platform.h"
#include "imagefiles/Picture.h"
#include "serve/Service.h"

namespace {

using quirlon::serve::TServiceOptions;

const char* const kHelp =
    "Usage: quirlon-serve [OPTION]...\n"
    "Answers box-shot renders over HTTP: POST /render, GET /templates, GET /templates/N/preview,\n"
    "GET /products, GET /healthz, GET /metrics, and the web page at /.\n"
    "\n"
    "  --listen ADDR:PORT       where to listen (default 127.0.0.1:8080; 0.0.0.0:8080 for every address)\n"
    "  --threads N              connections served at once (default renders + queue + 4)\n"
    "  --renders N              renders at once (default: one per processor)\n"
    "  --queue N                requests that may wait for a render, then 503 (default 4 x renders,\n"
    "                           at least 16)\n"
    "  --max-request-size SIZE  largest request body, e.g. 32M (default 32M)\n"
    "  --max-megapixels N       largest uploaded picture in millions of pixels, 1..128 (default 25)\n"
    "  --max-canvas N           largest answer side in pixels, 32..8192 (default 4096)\n"
    "  --memory-limit SIZE      memory the layers of one render may take (default: 1G, or less on a\n"
    "                           small machine)\n"
    "  --request-timeout S      longest wait for a render slot before 503, seconds (default 60)\n"
    "  --read-timeout S         drop a client that sends nothing for S seconds (default 10)\n"
    "  --write-timeout S        drop a client that reads nothing for S seconds (default 10)\n"
    "  --data DIR               folder with Templates/, Pics/, custom/, web/ (default: beside the program)\n"
    "  --help, --version\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::int32_t Whole(const std::string& option, const std::string& text, std::int32_t min, std::int32_t max) {
  try {
    return quirlon::core::ParseWholeNumber(option, text, min, max);
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }
}

std::int64_t Bytes(const std::string& option, const std::string& text) {
  try {
    return quirlon::core::ParseByteSize(option, text);
  } catch (const std::exception& e) {
    throw UsageError(e.what());
  }
}

// Options in; --help and --version answered by returning false.
bool ParseOptions(int argc, char** argv, TServiceOptions& o) {
  bool memoryGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    const std::size_t eq = arg.find('=');
    const bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inlineValue) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return false;
    }
    if (arg == "--version") {
      std::cout << "quirlon-serve 1.0\n";
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) throw UsageError(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg);
      value = argv[++i];
    }
    if (arg == "--listen") {
      const std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0)
        throw UsageError("--listen takes ADDRESS:PORT such as 127.0.0.1:8080, not '" + value + "'");
      o.Host = value.substr(0, colon);
      o.Port = Whole("--listen's port", value.substr(colon + 1), 0, 65535);
    } else if (arg == "--threads") o.Threads = Whole(arg, value, 1, 1024);
    else if (arg == "--renders") o.Renders = Whole(arg, value, 1, 256);
    else if (arg == "--queue") o.Queue = Whole(arg, value, 0, 4096);
    else if (arg == "--max-request-size") o.MaxRequestBytes = Bytes(arg, value);
    else if (arg == "--max-megapixels")
      o.Limits.MaxPicturePixels = std::int64_t{Whole(arg, value, 1, 128)} * 1000 * 1000;
    else if (arg == "--max-canvas") o.Limits.MaxCanvasSide = Whole(arg, value, 32, quirlon::core::kMaxJobCanvasSide);
    else if (arg == "--memory-limit") {
      o.Limits.MemoryBudget = Bytes(arg, value);
      memoryGiven = true;
    } else if (arg == "--request-timeout") o.RequestSeconds = Whole(arg, value, 1, 3600);
    else if (arg == "--read-timeout") o.ReadTimeoutSeconds = Whole(arg, value, 1, 3600);
    else if (arg == "--write-timeout") o.WriteTimeoutSeconds = Whole(arg, value, 1, 3600);
    else if (arg == "--data") o.DataFolder = value;
    else throw UsageError("unknown option " + arg + " (see --help)");
  }
  if (o.MaxRequestBytes < 1024) throw UsageError("--max-request-size must be at least 1K");
  if (!memoryGiven)
    o.Limits.MemoryBudget = std::min<std::int64_t>(o.Limits.MemoryBudget, quirlon::core::MachineMemoryBudget());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TServiceOptions options;
  try {
    if (!ParseOptions(argc, argv, options)) return 0;
  } catch (const UsageError& e) {
    std::cerr << "quirlon-serve: " << e.what() << "\n";
    return 2;
  }
  // The stop signals are taken by one thread of ours; every other thread (the server's) has them
  // blocked, as it inherits this mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client that hangs up is the write's error, not the process's end
  try {
    quirlon::serve::TRenderService service(options);
    const std::int32_t port = service.Bind();
    std::cerr << "quirlon-serve: listening on http://" << options.Host << ":" << port << "/ ("
              << service.Options().Renders << " renders at once, " << service.Options().Queue << " waiting)"
              << std::endl;
    std::thread stopper([&] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      std::cerr << "quirlon-serve: stopping (" << (signal == SIGTERM ? "SIGTERM" : "SIGINT")
                << "): finishing the requests in flight" << std::endl;
      service.Stop();
    });
    service.Serve();
    // Served to the end without a signal (the listening socket failed): the stopper is let go.
    if (stopper.joinable()) {
      pthread_kill(stopper.native_handle(), SIGTERM);
      stopper.join();
    }
    std::cerr << "quirlon-serve: stopped" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "quirlon-serve: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
