// The render service through real HTTP: the quirlon-serve executable on a free loopback port,
// cpp-httplib's client, answers read back with libpng.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <future>
#include <mutex>

#include "ScratchFolder.h"
#include "serve/ServerProcess.h"
#include "support/ZeroPng.h"

namespace {

using quirlon::testing::ScratchFolder;
using quirlon::testing::ServerProcess;

struct TDecodedPng {
  std::uint32_t Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgba;
};

// Decoded by libpng itself.
TDecodedPng DecodePng(const std::string& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  TDecodedPng out;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return out;
  image.format = PNG_FORMAT_RGBA;
  out.Rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.Rgba.data(), 0, nullptr)) return {};
  out.Width = image.width;
  out.Height = image.height;
  return out;
}

std::string ReadFile(const std::string& path) {
  const auto bytes = ScratchFolder::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string Example(const std::string& name) { return ReadFile(std::string(QUIRLON_SOURCE_DIR) + "/examples/" + name); }

httplib::MultipartFormData Field(const std::string& name, const std::string& value) { return {name, value, "", ""}; }
httplib::MultipartFormData Picture(const std::string& name, const std::string& bytes) {
  return {name, bytes, name + ".bin", "application/octet-stream"};
}

// A render that takes a while: a large canvas written as PNG.
httplib::MultipartFormDataItems SlowRender() {
  return {Field("template", "1"), Field("width", "2048"), Field("height", "2048"), Picture("front", Example("box-front.jpg"))};
}

TEST(ServiceTest, EveryGetEndpointAnswers) {
  ServerProcess server;
  httplib::Client client = server.Client();
  struct TCase {
    const char* Path;
    int Status;
    const char* Type;
    const char* Contains;
  };
  const TCase cases[] = {
      {"/healthz", 200, "text/plain", "ok"},
      {"/templates", 200, "application/json",
       R"({"number": 1, "name": "01 Software box left", "slots": ["front", "side", "top"], "product": "box 190 x 235 x 60 mm"})"},
      {"/products", 200, "application/json", R"("name": "paperback")"},
      {"/templates/1/preview", 200, "image/jpeg", "\xFF\xD8\xFF"},
      {"/templates/999/preview", 404, "application/json", R"("error": "There is no preview of template 999")"},
      {"/", 200, "text/html", "<html"},
      {"/app.js", 200, "text/javascript", "fetch("},
      {"/app.css", 200, "text/css", "{"},
      {"/../etc/passwd", 404, "application/json", R"("error")"},
      {"/metrics", 200, "text/plain", "# TYPE quirlon_render_seconds histogram"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    const auto res = client.Get(c.Path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.Status);
    EXPECT_EQ(res->get_header_value("Content-Type").rfind(c.Type, 0), 0u) << res->get_header_value("Content-Type");
    EXPECT_NE(res->body.find(c.Contains), std::string::npos) << res->body.substr(0, 300);
  }
  // Fourteen bundled templates, numbered as the command line numbers them.
  const auto list = client.Get("/templates");
  ASSERT_TRUE(list);
  EXPECT_NE(list->body.find(R"({"number": 14, )"), std::string::npos);
  EXPECT_EQ(list->body.find(R"({"number": 15, )"), std::string::npos);
}

// The service answers the same pixels as the command line for the same job.
TEST(ServiceTest, RenderAnswersWhatTheCommandLineWrites) {
  ScratchFolder dir;
  const std::string front = dir.Write("front.jpg", Example("box-front.jpg"));
  const std::string side = dir.Write("side.jpg", Example("box-side.jpg"));
  const std::string out = dir.PathOf("cli.png");
  const std::string command = std::string(QUIRLON_RENDER) + " -t 2 --source front=" + front + " --source side=" + side +
                              " --source top=#336699 --width 320 --height 240 --shadow-blur 60 --reflection-opacity 90 -o " +
                              out + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);

  ServerProcess server;
  httplib::Client client = server.Client();
  const httplib::MultipartFormDataItems form{
      Field("template", "02 Software box right"),
      Picture("front", Example("box-front.jpg")),
      Picture("side", Example("box-side.jpg")),
      Field("top", "#336699"),
      Field("width", "320"),
      Field("height", "240"),
      Field("shadow-blur", "60"),
      Field("reflection-opacity", "90"),
  };
  const auto res = client.Post("/render", form);
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
  const TDecodedPng served = DecodePng(res->body), written = DecodePng(ReadFile(out));
  ASSERT_EQ(served.Width, 320u);
  ASSERT_EQ(served.Height, 240u);
  EXPECT_TRUE(served.Rgba == written.Rgba);
  // Sent again, the pictures are not decoded again and the answer is the same.
  EXPECT_EQ(server.Metric("quirlon_picture_cache_misses_total"), 2);
  const auto again = client.Post("/render", form);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->body, res->body);
  EXPECT_EQ(server.Metric("quirlon_picture_cache_hits_total"), 2);
  EXPECT_EQ(server.Metric("quirlon_template_cache_hits_total"), 1);
  // A third time its layers are those the second request built and kept: still the same answer.
  EXPECT_EQ(server.Metric("quirlon_layer_cache_hits_total"), 0);
  const auto third = client.Post("/render", form);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->body, res->body);
  EXPECT_GT(server.Metric("quirlon_layer_cache_hits_total"), 5);
}

TEST(ServiceTest, EveryOutputFormatComesWithItsContentType) {
  ServerProcess server;
  httplib::Client client = server.Client();
  struct TCase {
    const char* Format;
    const char* Type;
    std::string Magic;
  };
  const TCase cases[] = {
      {"png", "image/png", "\x89PNG\r\n\x1a\n"},
      {"jpeg", "image/jpeg", "\xFF\xD8\xFF"},
      {"webp", "image/webp", "RIFF"},
      {"bmp", "image/bmp", "BM"},
      {"tiff", "image/tiff", std::string("II*\0", 4)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Format);
    const auto res = client.Post("/render", httplib::MultipartFormDataItems{Field("format", c.Format), Field("width", "64"),
                                                                            Field("height", "48")});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), c.Type);
    EXPECT_EQ(res->body.substr(0, c.Magic.size()), c.Magic);
  }
  // A product from its dimensions with a cover wrap sent as a picture.
  const auto wrap = client.Post("/render", httplib::MultipartFormDataItems{
                                               Field("product", "paperback"), Field("size", "100x150mm"),
                                               Field("spine", "10mm"), Field("bleed", "0"), Field("width", "200"),
                                               Field("height", "150"), Picture("wrap", quirlon::testing::ZeroGreyPng(210, 150, 150))});
  ASSERT_TRUE(wrap);
  EXPECT_EQ(wrap->status, 200) << wrap->body;
  EXPECT_EQ(DecodePng(wrap->body).Width, 200u);
}

TEST(ServiceTest, BadRequestsAreRefusedNamingTheField) {
  ServerProcess server({"--max-canvas", "1024", "--max-megapixels", "4"});
  httplib::Client client = server.Client();
  struct TCase {
    const char* What;
    httplib::MultipartFormDataItems Form;
    int Status;
    const char* Field;
    const char* Says;
  };
  const TCase cases[] = {
      {"unknown key", {Field("bogus", "1")}, 400, "bogus", "Unknown setting bogus"},
      {"template as a path", {Field("template", "../../etc/passwd")}, 400, "template", "There is no template"},
      {"template as an absolute file", {Field("template", "/etc/hosts")}, 400, "template", "There is no template"},
      {"template out of range", {Field("template", "15")}, 400, "template", "from 1 to 14"},
      {"output file", {Field("output", "/tmp/x.png")}, 400, "output", "does not take output"},
      {"templates folder", {Field("templates", "/etc")}, 400, "templates", "does not take templates"},
      {"save-template", {Field("product", "box"), Field("save-template", "/tmp/t.ini")}, 400, "save-template", "does not take"},
      {"turntable", {Field("product", "box"), Field("turntable", "12")}, 400, "turntable", "does not take"},
      {"frames", {Field("product", "box"), Field("frames", "/tmp")}, 400, "frames", "does not take"},
      {"own limits", {Field("max-megapixels", "128")}, 400, "max-megapixels", "does not take"},
      {"slot as a path", {Field("front", "/etc/passwd")}, 400, "front", "send a picture as a file part"},
      {"wrap as a path", {Field("product", "paperback"), Field("wrap", "/etc/passwd")}, 400, "wrap", "send it as a file part"},
      {"picture for no slot", {Picture("logo", quirlon::testing::ZeroGreyPng(8, 8, 8))}, 400, "logo", "named by its slot"},
      {"value out of range", {Field("shadow-blur", "500")}, 400, "shadow-blur", "from 0 to 100"},
      {"twice the same key", {Field("width", "100"), Field("width", "200")}, 400, "width", "more than once"},
      {"unknown format", {Field("format", "gif")}, 400, "format", "takes png"},
      {"unknown product", {Field("product", "spaceship")}, 400, "product", "spaceship"},
      {"canvas over the limit", {Field("width", "2000"), Field("height", "100")}, 413, "width", "at most 1024"},
      {"one side over the limit by proportion", {Field("height", "1000")}, 413, "height", "template's proportions"},
      {"not a picture", {Picture("front", "hello, world")}, 422, "front", "Not a picture"},
      {"damaged picture", {Picture("front", quirlon::testing::ZeroGreyPng(64, 64, 64).substr(0, 60))}, 422, "front", "Invalid or unexpected PNG image format"},
      {"bomb declaring 100000 x 100000", {Picture("front", quirlon::testing::ZeroGreyPng(100000, 100000, 2))}, 413, "front",
       "Picture is too large (100000 x 100000)"},
      {"bomb within the sides, over the pixels", {Picture("side", quirlon::testing::ZeroGreyPng(4000, 4000, 4000))}, 413, "side",
       "at most 4 million pixels"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const auto res = client.Post("/render", c.Form);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.Status);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    EXPECT_NE(res->body.find(std::string(R"("field": ")") + c.Field + "\""), std::string::npos) << res->body;
    EXPECT_NE(res->body.find(c.Says), std::string::npos) << res->body;
  }
  // Not a form at all.
  const auto json = client.Post("/render", "{\"template\": 1}", "application/json");
  ASSERT_TRUE(json);
  EXPECT_EQ(json->status, 400);
  // Every refusal counted by status: counted once its answer is sent, so a count may come a moment
  // after the client has the answer.
  EXPECT_GE(server.Metric("quirlon_requests_total{status=\"400\"}"), 16);
  EXPECT_TRUE(server.AwaitMetric("quirlon_requests_total{status=\"422\"}", 2));
  EXPECT_TRUE(server.AwaitMetric("quirlon_requests_total{status=\"413\"}", 4));
  EXPECT_EQ(server.Metric("quirlon_requests_total{status=\"500\"}"), -1);
}

TEST(ServiceTest, ARequestOverTheSizeLimitIs413) {
  ServerProcess server({"--max-request-size", "64K"});
  httplib::Client client = server.Client();
  const auto res = client.Post("/render", httplib::MultipartFormDataItems{Picture("front", std::string(100 * 1024, 'x'))});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
  EXPECT_NE(res->body.find(R"("error": "The request is larger)"), std::string::npos) << res->body;
}

TEST(ServiceTest, AFullQueueAnswers503WithRetryAfter) {
  ServerProcess server({"--renders", "1", "--queue", "0"});
  auto slow = std::async(std::launch::async, [&] { return server.Client().Post("/render", SlowRender()); });
  ASSERT_TRUE(server.AwaitMetric("quirlon_renders_in_flight", 1));
  const auto busy = server.Client().Post("/render", httplib::MultipartFormDataItems{Field("width", "64")});
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->status, 503);
  EXPECT_EQ(busy->get_header_value("Retry-After"), "2");
  EXPECT_NE(busy->body.find("queue place is taken"), std::string::npos);
  // Health and metrics still answer while the render slot is taken.
  const auto health = server.Client().Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  const auto first = slow.get();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  EXPECT_EQ(DecodePng(first->body).Width, 2048u);
}

TEST(ServiceTest, ARequestWaitingPastItsTimeLimitAnswers503) {
  ServerProcess server({"--renders", "1", "--queue", "1", "--request-timeout", "1"});
  auto slow = std::async(std::launch::async, [&] { return server.Client().Post("/render", SlowRender()); });
  ASSERT_TRUE(server.AwaitMetric("quirlon_renders_in_flight", 1));
  const auto waited = server.Client().Post("/render", httplib::MultipartFormDataItems{Field("width", "64")});
  ASSERT_TRUE(waited);
  // Either it waited its second out, or (on a fast machine) the slot came free and it rendered.
  if (waited->status == 503) EXPECT_NE(waited->body.find("No render slot came free in time"), std::string::npos);
  else EXPECT_EQ(waited->status, 200);
  EXPECT_EQ(slow.get()->status, 200);
}

// A render that starts while another runs keeps its loops on its own thread; the answer is the
// same picture as that of the same request on an idle service, which spreads its rows over two.
TEST(ServiceTest, ARenderBesideAnotherAnswersWhatItAnswersAlone) {
  ServerProcess server({"--renders", "2"});
  const httplib::MultipartFormDataItems form{Field("template", "1"), Field("width", "400"), Field("height", "300"),
                                             Picture("front", Example("box-front.jpg")),
                                             Picture("side", Example("box-side.jpg")), Field("top", "#336699")};
  const auto alone = server.Client().Post("/render", form);
  ASSERT_TRUE(alone);
  ASSERT_EQ(alone->status, 200) << alone->body;
  auto slow = std::async(std::launch::async, [&] { return server.Client().Post("/render", SlowRender()); });
  ASSERT_TRUE(server.AwaitMetric("quirlon_renders_in_flight", 1));
  const auto beside = server.Client().Post("/render", form);
  ASSERT_TRUE(beside);
  ASSERT_EQ(beside->status, 200) << beside->body;
  const TDecodedPng a = DecodePng(alone->body), b = DecodePng(beside->body);
  EXPECT_EQ(b.Width, 400u);
  EXPECT_TRUE(a.Rgba == b.Rgba);
  EXPECT_EQ(slow.get()->status, 200);
}

// Requests waiting for the one render slot get it in the order they arrived.
TEST(ServiceTest, WaitingRequestsRenderInTheOrderTheyArrived) {
  ServerProcess server({"--renders", "1", "--queue", "3"});
  auto slow = std::async(std::launch::async, [&] { return server.Client().Post("/render", SlowRender()); });
  ASSERT_TRUE(server.AwaitMetric("quirlon_renders_in_flight", 1));
  std::mutex mutex;
  std::vector<std::string> finished;
  std::vector<std::future<int>> waiting;
  for (const std::string name : {"first", "second", "third"}) {
    // Each takes a while, so that the one before has its answer long before this one is done.
    waiting.push_back(std::async(std::launch::async, [&, name] {
      const auto res = server.Client().Post("/render", httplib::MultipartFormDataItems{
                                                           Field("width", "1024"), Field("height", "1024"),
                                                           Picture("front", Example("box-front.jpg"))});
      std::lock_guard lock(mutex);
      finished.push_back(name);
      return res ? res->status : -1;
    }));
    ASSERT_TRUE(server.AwaitMetric("quirlon_renders_queued", static_cast<double>(waiting.size())));
  }
  EXPECT_EQ(slow.get()->status, 200);
  for (auto& w : waiting) EXPECT_EQ(w.get(), 200);
  EXPECT_EQ(finished, (std::vector<std::string>{"first", "second", "third"}));
}

// A client that starts a request and then sends nothing is dropped after the read timeout, and
// the service goes on answering others meanwhile.
TEST(ServiceTest, ASlowClientIsDropped) {
  ServerProcess server({"--read-timeout", "1"});
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string start = "POST /render HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                            "Content-Length: 100000\r\n\r\n--b\r\n";
  ASSERT_EQ(::send(sock, start.data(), start.size(), 0), static_cast<ssize_t>(start.size()));
  const auto health = server.Client().Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  // A generous guard against a hang, far beyond the one-second timeout.
  timeval guard{60, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::recv(sock, buffer, sizeof buffer, 0)) > 0) {
  }
  const int error = errno;
  ::close(sock);
  EXPECT_TRUE(n == 0 || error == ECONNRESET) << "the connection stayed open: " << std::strerror(error);
}

TEST(ServiceTest, SigtermFinishesTheRenderInFlightAndRefusesNewConnections) {
  ServerProcess server({"--renders", "2"});
  auto slow = std::async(std::launch::async, [&] { return server.Client().Post("/render", SlowRender()); });
  ASSERT_TRUE(server.AwaitMetric("quirlon_renders_in_flight", 1));
  ::kill(server.Pid(), SIGTERM);
  const auto answered = slow.get();
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200);
  const TDecodedPng picture = DecodePng(answered->body);
  EXPECT_EQ(picture.Width, 2048u);
  EXPECT_EQ(picture.Height, 2048u);
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_FALSE(server.Client().Get("/healthz"));
  EXPECT_NE(server.Log().find("quirlon-serve: stopped"), std::string::npos) << server.Log();
}

TEST(ServiceTest, BadOptionsAreUsageErrors) {
  for (const char* options : {"--listen nowhere", "--threads 0", "--max-megapixels 500", "--bogus 1"}) {
    SCOPED_TRACE(options);
    const std::string command = std::string(QUIRLON_SERVE) + " " + options + " 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
  }
}

}  // namespace
