#pragma once

#include "tests/support/TestSupport.h"

#include <filesystem>
#include <memory>
#include <string>

namespace vornel::test {

// A free TCP port on 127.0.0.1 (asked of the system, then released).
int FreePort();
// True once something accepts connections on 127.0.0.1:port, within about ten seconds.
bool WaitForPort(int port);

// nginx serving `root` under "/" on 127.0.0.1 at a free port, with a configuration, prefix,
// pid and log files of its own in a temporary folder; one process (no master), stopped when the
// object goes. `locations` is more of the server block (locations of the test's cases).
class Nginx {
public:
  Nginx(const std::string& root, const std::string& locations);
  bool Running() const { return running_; }
  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::string ErrorLog() const;

private:
  TempDir dir_;
  int port_;
  std::unique_ptr<StartedProcess> process_;
  bool running_ = false;
};

// faulty_server.py serving root on 127.0.0.1 at a free port, stopped when the object goes.
class FaultyServer {
public:
  explicit FaultyServer(const std::string& root);
  bool Running() const { return running_; }
  std::string Url(const std::string& path) const;

private:
  int port_;
  std::unique_ptr<StartedProcess> process_;
  bool running_ = false;
};

} // namespace vornel::test
