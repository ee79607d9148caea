// The built loader with --ui window on a private X server, used as a person would: looking at
// the screen and typing and clicking through xdotool.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/loopback_device.h"
#include "tests/support/child_process.h"
#include "tests/support/required_tools.h"
#include "tests/support/temp_dir.h"
#include "tests/window/x_session.h"

namespace {

using testing_support::BackgroundProcess;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFile;
using window_testing::LoaderControlRect;
using window_testing::XServer;

constexpr int kOk = 1001;
constexpr int kCancel = 1002;
constexpr int kEdit = 1003;
constexpr int kStatus = 1004;
constexpr const char* kCaption = "Loader cannot continue";

const std::string kLoader = FERROVAN_LOADER_PATH;
const std::string kSettings = "Program Files/FerroVanMobile/RFConfig.xml";

platform::PixelRect BottomHalf(platform::PixelRect rect) {
  rect.y += rect.height / 2;
  rect.height -= rect.height / 2;
  return rect;
}

class LoaderWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    FERROVAN_SKIP_WHEN_MISSING(window_testing::MissingTools());
    std::string why;
    server_ = window_testing::SharedServer(why);
    ASSERT_NE(server_, nullptr) << why;
  }

  std::unique_ptr<BackgroundProcess> StartLoader(
      const std::vector<std::string>& flags = {},
      const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::string> args = {"--device-root", device_.Path(), "--ui", "window"};
    args.insert(args.end(), flags.begin(), flags.end());
    testing_support::RunOptions options;
    options.env = env;
    options.env.emplace_back("DISPLAY", server_->Name());
    return std::make_unique<BackgroundProcess>(kLoader, args, options);
  }

  bool PromptShown() const {
    const auto shot = server_->Capture();
    for (int id : {kOk, kCancel, kEdit}) {
      if (window_testing::InkIn(shot, server_->Width(), LoaderControlRect(id)) == 0) {
        return false;
      }
    }
    return true;
  }

  void ClickCenter(int id) const {
    const platform::PixelRect rect = LoaderControlRect(id);
    server_->Click(rect.x + rect.width / 2, rect.y + rect.height / 2);
  }

  // Cancel acts only while the prompt shows; a click while the loader works falls on the bare
  // window. So: click until the loader has ended.
  int CancelUntilEnded(BackgroundProcess& loader) const {
    int status = -1;
    WaitUntil([&] {
      ClickCenter(kCancel);
      status = loader.Wait(std::chrono::milliseconds(200));
      return status != -1;
    });
    return status;
  }

  std::string Settings() const {
    return Exists(device_ / kSettings) ? ReadFile(device_ / kSettings) : "";
  }

  XServer* server_ = nullptr;
  TempDir device_;
};

TEST_F(LoaderWindowTest, FillsTheScreenAndSavesTheTypedAddressForTheNextRun) {
  // Without a loader on the server, every run after the prompt ends in the prompt again.
  testing_support::DownloadService service({"--missing", testing_support::kLoaderExe});
  service.Start();
  const std::string address = service.Address() + "/";
  auto loader = StartLoader();

  const std::string window = server_->WaitForWindow("FerroVanLoader");
  ASSERT_FALSE(window.empty());
  window_testing::WindowGeometry geometry;
  ASSERT_TRUE(server_->Geometry(window, geometry));
  EXPECT_EQ(geometry.x, 0);
  EXPECT_EQ(geometry.y, 0);
  EXPECT_EQ(geometry.width, server_->Width());
  EXPECT_EQ(geometry.height, server_->Height());

  // A fresh device has no address: the status line ("Enter URL", one line) and the prompt, all
  // in the top-left part of the screen and nothing elsewhere.
  ASSERT_TRUE(WaitUntil([&] { return PromptShown(); }));
  const auto shot = server_->Capture();
  EXPECT_GT(window_testing::InkIn(shot, server_->Width(), LoaderControlRect(kStatus)), 0);
  EXPECT_EQ(window_testing::InkIn(shot, server_->Width(), BottomHalf(LoaderControlRect(kStatus))),
            0);
  int inControls = 0;
  for (int id : {kOk, kCancel, kEdit, kStatus}) {
    inControls += window_testing::InkIn(shot, server_->Width(), LoaderControlRect(id));
  }
  EXPECT_EQ(window_testing::InkIn(shot, server_->Width(), {0, 0, geometry.width, geometry.height}),
            inControls);

  server_->Type(address);
  server_->Key("Return");
  ASSERT_TRUE(WaitUntil([&] {
    return Settings().find("<WebHostName>" + address + "</WebHostName>") != std::string::npos;
  })) << Settings();

  // The next run finds no loader on the server: a two-line failure text and the prompt again,
  // its edit box holding the address, selected, so that what is typed replaces it.
  ASSERT_TRUE(WaitUntil(
      [&] { return server_->Ink(BottomHalf(LoaderControlRect(kStatus))) > 0 && PromptShown(); }));
  server_->Type(address + "x");
  server_->Key("Return");
  ASSERT_TRUE(WaitUntil([&] {
    return Settings().find("<WebHostName>" + address + "x</WebHostName>") != std::string::npos;
  })) << Settings();

  EXPECT_EQ(CancelUntilEnded(*loader), 0);
}

// Enter while the loader works reaches no hidden button: the saved address stays as it is and
// no second run starts beside the one at work.
TEST_F(LoaderWindowTest, KeysAndClicksWhileTheLoaderWorksChangeNothing) {
  // The newest loader never comes: the run waits in its download until it gives up.
  testing_support::DownloadService service({"--silent", testing_support::kLoaderExe});
  service.Start();
  const std::string saved = "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" +
                            service.Address() + "</WebHostName>\n</Config>\n";
  WriteFile(device_ / kSettings, saved);
  auto loader = StartLoader({}, {{"FERROVAN_DOWNLOAD_STALL_SECONDS", "3"}});
  ASSERT_TRUE(WaitUntil([&] { return !service.Requests().empty(); }));

  for (int press = 0; press < 3; ++press) {
    server_->Key("Return");
  }
  ClickCenter(kOk);
  ClickCenter(kCancel);

  // The download gives up and the prompt comes, once.
  ASSERT_TRUE(WaitUntil([&] { return PromptShown(); }));
  EXPECT_EQ(Settings(), saved);
  EXPECT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(loader->Wait(std::chrono::milliseconds(0)), -1) << "Cancel acted while hidden";
  EXPECT_EQ(CancelUntilEnded(*loader), 0);
  EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(LoaderWindowTest, EscapeAndCloseRequestsAreIgnoredAndCancelEndsTheLoader) {
  auto loader = StartLoader();
  const std::string window = server_->WaitForWindow("FerroVanLoader");
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(WaitUntil([&] { return PromptShown(); }));

  // Events are handled in order: once the key typed after them shows in the edit box, Escape and
  // the close request have been handled, and the loader is still there.
  const int emptyEdit = server_->Ink(LoaderControlRect(kEdit));
  server_->Key("Escape");
  server_->RequestClose(window);
  server_->Type("q");
  ASSERT_TRUE(WaitUntil([&] { return server_->Ink(LoaderControlRect(kEdit)) > emptyEdit; }));
  EXPECT_EQ(server_->FindWindows("FerroVanLoader").size(), 1u);

  ClickCenter(kCancel);
  EXPECT_EQ(loader->Wait(), 0);
  EXPECT_FALSE(Exists(device_ / kSettings)) << "Cancel stores nothing";
}

TEST_F(LoaderWindowTest, RaisedFailureShowsTheMessageBoxAndTheLoaderEndsAfterOk) {
  // The message package is served, but the device has no CAB installer to run it with.
  testing_support::DownloadService service;
  WriteFile(service.File("NETCFv35.Messages.EN.cab"), "cab");
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "cab");
  service.Start();
  WriteFile(device_ / kSettings, "<?xml version=\"1.0\"?>\n<Config><WebHostName>" +
                                     service.Address() + "</WebHostName></Config>\n");
  auto loader = StartLoader({"-InstallCF35MessagesEN"});

  const std::string box = server_->WaitForWindow(kCaption, true);
  ASSERT_FALSE(box.empty());
  window_testing::WindowGeometry geometry;
  ASSERT_TRUE(server_->Geometry(box, geometry));
  EXPECT_TRUE(WaitUntil([&] {
    return server_->Ink({geometry.x, geometry.y, geometry.width, geometry.height}) > 0;
  }));
  // The box waits for the user; once it is dismissed the loader ends, without the prompt.
  EXPECT_EQ(loader->Wait(std::chrono::milliseconds(20)), -1);
  server_->Key("Return");
  EXPECT_EQ(loader->Wait(), 0);
  EXPECT_TRUE(server_->FindWindows(kCaption, true).empty());
}

// The status line's pixels, to tell one text from another.
std::vector<unsigned> StatusPixels(const std::vector<unsigned>& shot, int width) {
  const platform::PixelRect rect = LoaderControlRect(kStatus);
  std::vector<unsigned> pixels;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      pixels.push_back(shot[static_cast<std::size_t>(y * width + x)]);
    }
  }
  return pixels;
}

TEST_F(LoaderWindowTest, AFirstInstallationRunsToTheClientWithItsProgressInView) {
  // One library comes slowly, so that its progress can be watched changing.
  testing_support::DownloadService service(
      {"--slow", std::string(testing_support::kClientLibraries[4]) + ":400000"}, 1000000);
  service.Start();
  auto loader = StartLoader();
  ASSERT_FALSE(server_->WaitForWindow("FerroVanLoader").empty());
  ASSERT_TRUE(WaitUntil([&] { return PromptShown(); }));
  ClickCenter(kEdit);
  server_->Type(service.Address());
  server_->Key("Return");

  // The first loader hands over to the newest one, whose window shows the downloads.
  std::set<std::vector<unsigned>> statusTexts;
  const std::string log = device_ / "demo-client.log";
  ASSERT_TRUE(WaitUntil(
      [&] {
        statusTexts.insert(StatusPixels(server_->Capture(), server_->Width()));
        return Exists(log) && !ReadFile(log).empty();
      },
      std::chrono::seconds(60)))
      << "settings: " << Settings() << " starts: " << statusTexts.size();
  EXPECT_EQ(loader->Wait(), 0);
  EXPECT_NE(ReadFile(log).find("\t-NewLoader\n"), std::string::npos) << ReadFile(log);
  EXPECT_GE(statusTexts.size(), 4u) << "the progress texts did not show as they changed";
}

// The start-time benchmark's paint notice: one line on the named descriptor once the dialog is
// drawn, and nothing anywhere when the variable does not name a usable descriptor (never the
// standard streams).
TEST_F(LoaderWindowTest, PaintNoticeGoesOnlyToTheNamedDescriptorAndOnlyOnce) {
  struct Case {
    const char* value;
    const char* notice;  // what the notice file holds once the prompt shows
  };
  const Case cases[] = {{"3", "painted\n"}, {"1", ""}, {"2", ""}, {"x3", ""}, {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("FERROVAN_PAINT_NOTICE_FD=") + c.value);
    TempDir device;
    const std::string notice = device.Path() + "/notice";
    WriteFile(notice, "");
    testing_support::RunOptions options;
    options.env = {
        {"DISPLAY", server_->Name()}, {"FERROVAN_PAINT_NOTICE_FD", c.value}, {"NOTICE", notice}};
    // Every stream of the loader ends in the notice file, so a notice sent anywhere shows.
    BackgroundProcess loader("/bin/sh",
                             {"-c", "exec \"$0\" \"$@\" >>\"$NOTICE\" 2>&1 3>>\"$NOTICE\"", kLoader,
                              "--device-root", device.Path(), "--ui", "window"},
                             options);
    ASSERT_TRUE(WaitUntil([&] { return PromptShown(); })) << ReadFile(notice);
    if (*c.notice != '\0') {
      ASSERT_TRUE(WaitUntil([&] { return ReadFile(notice) == c.notice; })) << ReadFile(notice);
    }
    EXPECT_EQ(CancelUntilEnded(loader), 0);
    const std::string written = ReadFile(notice);
    const std::size_t first = written.find("painted");
    if (*c.notice != '\0') {
      EXPECT_EQ(written, c.notice) << "one notice, and only the notice, on descriptor 3";
    } else {
      EXPECT_EQ(first, std::string::npos) << written;
    }
  }
}

TEST(LoaderWindowFallback, WindowWithoutDisplayFallsBackToTheConsole) {
  TempDir device;
  testing_support::RunOptions options;
  options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "FERROVAN_UI"};
  options.input = "";  // end of input at the prompt is Cancel
  const auto result =
      testing_support::Run(kLoader, {"--device-root", device.Path(), "--ui", "window"}, options);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Enter URL"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Server address []: "), std::string::npos) << result.out;
}

}  // namespace
