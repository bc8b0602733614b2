#pragma once
// The real quirlon-serve started on a free loopback port for one test, stopped with SIGTERM (or
// killed) when the test ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ScratchFolder.h"

namespace quirlon::testing {

class ServerProcess {
public:
  explicit ServerProcess(const std::vector<std::string>& Options = {}) {
    fLog = fScratch.PathOf("server.log");
    std::vector<std::string> args = {QUIRLON_SERVE, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), Options.begin(), Options.end());
    fPid = ::fork();
    if (fPid == 0) {
      const int log = ::open(fLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(log, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    // The port is the one the program says it listens on.
    const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int i = 0; i < 600 && fPort == 0; ++i) {
      std::smatch m;
      const std::string log = Log();
      if (std::regex_search(log, m, listening)) fPort = std::stoi(m[1].str());
      else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (fPort == 0) ADD_FAILURE() << "quirlon-serve did not start: " << Log();
  }
  ~ServerProcess() {
    if (fPid > 0 && !fExited) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Port() const { return fPort; }
  pid_t Pid() const { return fPid; }
  std::string Log() const {
    std::ifstream in(fLog);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", fPort);
    client.set_read_timeout(std::chrono::seconds(300));
    client.set_write_timeout(std::chrono::seconds(60));
    return client;
  }
  // Sends Signal and waits for the exit status (-1 unless it exited normally).
  int SignalAndWait(int Signal) {
    ::kill(fPid, Signal);
    return Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(fPid, &status, 0);
    fExited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A number the metrics show, e.g. Metric("quirlon_renders_in_flight"); -1 when absent.
  double Metric(const std::string& Name) const {
    httplib::Client client = Client();
    const auto res = client.Get("/metrics");
    if (!res) return -1;
    std::istringstream lines(res->body);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(Name + " ", 0) == 0) return std::stod(line.substr(Name.size() + 1));
    return -1;
  }
  // Waits until Name shows Value (renders under way); false when it never does.
  bool AwaitMetric(const std::string& Name, double Value) const {
    for (int i = 0; i < 6000; ++i) {
      if (Metric(Name) == Value) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

private:
  ScratchFolder fScratch;
  std::string fLog;
  pid_t fPid = -1;
  int fPort = 0;
  bool fExited = false;
};

}  // namespace quirlon::testing
