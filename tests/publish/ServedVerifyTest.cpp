#include "tests/publish/PublishFixture.h"
#include "tests/publish/ServedSet.h"

#include <algorithm>
#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string Label;
  std::string Url;
  std::vector<std::string> Arguments; // after "verify --quiet --url URL"
  int Code;
  std::vector<std::string> Fragments; // each in standard output (or error, for code 2)
};

// Every path below a folder, for a check that nothing was written there.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

class ServedVerify : public PublishFixture {
protected:
  // Two releases: v1 (in "v1/") and, in "Upload/", v2 with one archive more, a changed file and
  // a readme of the same length as "older/"'s, whose content differs.
  void SetUp() override {
    PublishFixture::SetUp();
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    WriteFile(Clean("readme.txt"), std::string(letters.rbegin(), letters.rend()));
    Build();
    fs::rename(Work("Upload"), Work("older"));
    WriteFile(Clean("readme.txt"), letters);
    Build();
    fs::rename(Work("Upload"), Work("v1"));
    WriteFile(Clean("data/config.ini"), "[game]\nlevel=2\n");
    WriteFile(Clean("data/maps/second.map"), RandomBytes(5000, 7));
    Build();
  }

  // A copy of the new set as served under www/NAME.
  std::string Served(const std::string& name, const std::string& from = "Upload") const {
    const std::string copy = Work("www/" + name);
    fs::create_directories(copy);
    fs::copy(Work(from), copy, fs::copy_options::recursive);
    return copy;
  }
};

TEST_F(ServedVerify, EveryCaseOfTheServedCopy) {
  SKIP_WITHOUT_PROGRAMS("nginx", "python3");
  Served("whole");
  fs::remove(Served("missing") + "/data/config.ini.zip");
  const std::string otherSize = Served("othersize") + "/system/engine.dll.zip";
  WriteFile(otherSize, ReadFile(otherSize) + "an older build's tail");
  const std::string older = Served("older") + "/readme.txt.zip";
  ASSERT_EQ(fs::file_size(older), fs::file_size(Work("older/readme.txt.zip")));
  fs::copy_file(Work("older/readme.txt.zip"), older, fs::copy_options::overwrite_existing);
  Served("stale", "v1");
  Served("redirect");
  fs::create_directories(Work("www/redirect/moved"));
  fs::rename(Work("www/redirect/system/engine.dll.zip"), Work("www/redirect/moved/engine.dll.zip"));
  fs::remove(Served("html") + "/readme.txt.zip");
  WriteFile(Work("www/error.html"), "<html><body>Not here</body></html>\n");
  const std::string lf = Served("lf") + "/updates.lst";
  std::string manifest = ReadFile(lf);
  for (std::size_t at; (at = manifest.find("\r\n")) != std::string::npos;)
    manifest.erase(at, 1);
  WriteFile(lf, manifest);
  // Sparse files: 2 GiB and one byte on disk that take no room.
  fs::resize_file(Served("huge") + "/data/maps/start.map.zip", 2147483649ull);
  fs::resize_file(Served("hugelist") + "/updates.lst", 2147483649ull);
  Served("slow");
  // The lying server declares the listed size over other bytes.
  const std::string lying = Served("lying") + "/system/engine.dll.zip";
  fs::create_directories(Work("www/lie-as/lying/system"));
  fs::copy_file(lying, Work("www/lie-as/lying/system/engine.dll.zip"));
  WriteFile(lying, RandomBytes(fs::file_size(lying) + 500, 3));

  const Nginx nginx(Work("www"),
                    "    location = /redirect/data/config.ini.zip {\n"
                    "      return 302 http://127.0.0.1:$server_port/elsewhere/"
                    "config.ini.zip;\n    }\n"
                    "    location = /redirect/system/engine.dll.zip {\n"
                    "      return 301 /redirect/moved/engine.dll.zip;\n    }\n"
                    "    location /html/ { error_page 404 =200 /error.html; }\n"
                    "    location ~ ^/slow/.*\\.zip$ { limit_req zone=slow burst=50; }\n");
  ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
  const FaultyServer faulty(Work("www"));
  ASSERT_TRUE(faulty.Running());
  const std::string refused = "http://127.0.0.1:" + std::to_string(FreePort()) + "/set/";
  const auto at = [&](const std::string& name) { return nginx.Url("/" + name + "/"); };
  const std::string engine = std::to_string(fs::file_size(Work("Upload/system/engine.dll.zip")));

  const std::vector<Case> cases = {
      {"a whole set", at("whole"), {}, 0, {"verified 6 archives: all good\n"}},
      {"a whole set, deep", at("whole"), {"--deep", "--connections", "3"}, 0, {"all good\n"}},
      {"a whole set like the local one", at("whole"), {"--deep", "Upload"}, 0, {"all good\n"}},
      {"a missing archive",
       at("missing"),
       {},
       1,
       {"data/config.ini.zip: the server does not have it (404) (" +
            nginx.Url("/missing/data/config.ini.zip") + ")\n",
        "verified 6 archives: 1 problem in 1 archive\n"}},
      {"an archive of another size",
       at("othersize"),
       {},
       1,
       {"system/engine.dll.zip: the archive is " + std::to_string(fs::file_size(otherSize)) +
        " bytes as served, updates.lst lists " + engine}},
      {"an archive of an older build, by size", at("older"), {}, 0, {"all good\n"}},
      {"an archive of an older build, deep",
       at("older"),
       {"--deep"},
       1,
       {"readme.txt.zip: the data's CRC-32 is "}},
      {"an older manifest than the local one",
       at("stale"),
       {"Upload"},
       1,
       {"updates.lst: the served manifest does not list data/maps/second.map.zip, the local "
        "one does (an older manifest is served)\n",
        "updates.lst: the served manifest lists data/config.ini.zip with CRC ",
        "data/maps/second.map.zip: the server does not have it (404)"}},
      {"a redirect outside the base",
       at("redirect"),
       {"--deep"},
       1,
       {"data/config.ini.zip: the server redirects outside the base to " +
            nginx.Url("/elsewhere/config.ini.zip") + "; not followed",
        "verified 6 archives: 1 problem in 1 archive\n"}},
      {"a connection closed mid-body",
       faulty.Url("/cut/whole/"),
       {"--deep"},
       1,
       {"system/engine.dll.zip: the connection closed after "}},
      {"a busy server, tried again", faulty.Url("/busy/whole/"), {"--deep"}, 0, {"all good\n"}},
      {"a very slow server", at("slow"), {"--timeout", "2"}, 1, {"zip: no answer within 2 s ("}},
      // Found by the content (libcurl stops at the declared length) or by the bytes beyond it
      // (WinHTTP reads on).
      {"a lying Content-Length",
       faulty.Url("/lie/lying/"),
       {"--deep"},
       1,
       {"system/engine.dll.zip: ", " (" + faulty.Url("/lie/lying/system/engine.dll.zip") + ")\n",
        "verified 6 archives: 1 problem in 1 archive\n"}},
      {"no scheme", "127.0.0.1/set/", {}, 1, {"\"127.0.0.1/set/\" has no scheme"}},
      {"another scheme", "ftp://127.0.0.1/set/", {}, 1, {"the scheme \"ftp\" is not supported"}},
      {"a host that does not resolve",
       "http://nohost.invalid/set/",
       {"--timeout", "5"},
       1,
       {"http://nohost.invalid/set/updates.lst: the host does not resolve\n"}},
      {"a refused connection", refused, {}, 1, {"updates.lst: cannot connect (refused)\n"}},
      {"an HTML page with 200",
       at("html"),
       {},
       1,
       {"readme.txt.zip: an HTML page is served instead of the archive"}},
      {"a manifest with LF line ends",
       at("lf"),
       {},
       1,
       {at("lf") + "updates.lst: the lines end with LF, not CR LF"}},
      {"a 2 GiB archive",
       at("huge"),
       {"--deep"},
       1,
       {"data/maps/start.map.zip: the archive is 2147483649 bytes as served"}},
      {"a 2 GiB manifest",
       at("hugelist"),
       {},
       1,
       {at("hugelist") + "updates.lst: the server sends 2147483649 bytes, more than a manifest "
                         "holds\n"}},
  };
  const std::vector<std::string> before = Listing(Work());
  for (const auto& program : Programs()) {
    for (const Case& test : cases) {
      std::vector<std::string> arguments{"verify", "--quiet", "--url", test.Url};
      arguments.insert(arguments.end(), test.Arguments.begin(), test.Arguments.end());
      const ProcessResult run = Run(program, arguments);
      const std::string where = test.Label + " (" + program.back() + ")";
      EXPECT_EQ(run.Code, test.Code) << where << "\n" << run.Out << run.Err;
      // A URL refused or a run that failed says so on standard error alone, with no report.
      const bool noReport = run.Out.empty();
      const std::string& said = noReport ? run.Err : run.Out;
      for (const std::string& fragment : test.Fragments)
        EXPECT_NE(said.find(fragment), std::string::npos) << where << ": " << fragment << "\n"
                                                          << said;
      if (noReport) {
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << where << run.Err;
      }
    }
    // The manifest names 127.0.0.1 (no Server= setting): another host is worth a warning.
    const ProcessResult other =
        Run(program,
            {"verify", "--url", "http://localhost:" + std::to_string(nginx.Port()) + "/whole/"});
    EXPECT_EQ(other.Out.rfind("warning: the URL's host localhost is not the manifest's "
                              "Server=127.0.0.1",
                              0),
              0u)
        << other.Out;
    EXPECT_NE(other.Out.find("verified 6 archives: all good; 1 warning\n"), std::string::npos)
        << other.Out;
    EXPECT_EQ(other.Code, 0);
  }
  EXPECT_EQ(Listing(Work()), before); // nothing written
}

} // namespace
} // namespace vornel::test
