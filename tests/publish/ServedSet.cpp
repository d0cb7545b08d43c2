#include "tests/publish/ServedSet.h"

namespace vornel::test {

namespace {

std::string NginxProgram() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
    if (std::filesystem::exists(path))
      return path;
  }
  return "nginx";
}

} // namespace

int FreePort() {
  const ProcessResult run = RunProcess(
      {"python3", "-c",
       "import socket\ns = socket.socket()\ns.bind(('127.0.0.1', 0))\nprint(s.getsockname()[1])"});
  return run.Code == 0 ? std::stoi(run.Out) : 0;
}

bool WaitForPort(int port) {
  return RunProcess(
             {"python3", "-c",
              "import socket, sys, time\n"
              "for _ in range(100):\n"
              "    try:\n"
              "        socket.create_connection(('127.0.0.1', int(sys.argv[1])), 1).close()\n"
              "        sys.exit(0)\n"
              "    except OSError:\n"
              "        time.sleep(0.1)\n"
              "sys.exit(1)",
              std::to_string(port)})
             .Code == 0;
}

Nginx::Nginx(const std::string& root, const std::string& locations) : port_(FreePort()) {
  const std::string prefix = dir_.Str();
  std::filesystem::create_directories(dir_.Path() / "logs");
  WriteFile(dir_ / "nginx.conf",
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + prefix +
                "/nginx.pid;\nerror_log " + prefix +
                "/logs/error.log;\nevents { worker_connections 64; }\nhttp {\n"
                "  access_log off;\n  default_type application/octet-stream;\n"
                "  types { application/zip zip; text/html html; }\n"
                "  client_body_temp_path " +
                prefix + "/body;\n  proxy_temp_path " + prefix + "/proxy;\n  fastcgi_temp_path " +
                prefix + "/fastcgi;\n  uwsgi_temp_path " + prefix + "/uwsgi;\n  scgi_temp_path " +
                prefix + "/scgi;\n" +
                "  limit_req_zone $server_port zone=slow:1m rate=1r/m;\n"
                "  server {\n    listen 127.0.0.1:" +
                std::to_string(port_) + ";\n    root " + root + ";\n" + locations + "  }\n}\n");
  process_ = std::make_unique<StartedProcess>(
      std::vector<std::string>{NginxProgram(), "-p", prefix, "-c", dir_ / "nginx.conf"});
  running_ = port_ != 0 && process_->Started() && WaitForPort(port_);
}

std::string Nginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Nginx::ErrorLog() const {
  return ReadFile(dir_ / "logs/error.log");
}

FaultyServer::FaultyServer(const std::string& root) : port_(FreePort()) {
  process_ = std::make_unique<StartedProcess>(
      std::vector<std::string>{"python3", VORNEL_FAULTY_SERVER, root, std::to_string(port_)});
  running_ = port_ != 0 && process_->Started() && WaitForPort(port_);
}

std::string FaultyServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

} // namespace vornel::test
