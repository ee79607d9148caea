// The window front end on a private X server, driven by a scripted dialog procedure: a worker
// thread plays the loader's worker and the user (through xdotool) at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host.h"
#include "platform/linux/window/control_layout.h"
#include "resources/dialog_template.h"
#include "tests/support/required_tools.h"
#include "tests/support/temp_dir.h"
#include "tests/window/x_session.h"

namespace {

using platform::WindowHandle;
using testing_support::WaitUntil;
using window_testing::XServer;

constexpr int kOk = 1001;
constexpr int kCancel = 1002;
constexpr int kEdit = 1003;
constexpr int kStatus = 1004;
constexpr const char* kDialogClass = "FerroVanLoader";

XServer* server = nullptr;
platform::DialogFrontEnd* frontEnd = nullptr;

const platform::DialogTemplate& Template() {
  return *resources::FindDialogTemplate(resources::kLoaderDialogId);
}

platform::PixelRect Rect(int id) {
  platform::PixelRect rect;
  EXPECT_TRUE(platform::WindowControlRect(Template(), id, rect)) << id;
  return rect;
}

platform::PixelRect TopHalf(platform::PixelRect rect) {
  rect.height /= 2;
  return rect;
}

platform::PixelRect BottomHalf(platform::PixelRect rect) {
  rect.y += rect.height / 2;
  rect.height -= rect.height / 2;
  return rect;
}

std::wstring TextOf(WindowHandle window, std::size_t capacity = 260) {
  std::vector<wchar_t> buffer(capacity);
  const int length = frontEnd->GetText(window, buffer);
  std::wstring text(buffer.data());
  EXPECT_EQ(static_cast<std::size_t>(length), text.size());
  return text;
}

struct Command {
  unsigned code;
  int id;
  bool onDialogThread;
};

// A dialog procedure's view of one run: it stores itself as the dialog's user data and starts
// `worker` on its own thread, as the loader's dialog starts its worker.
struct Script {
  std::function<void(Script&)> worker;
  std::function<void(Script&, int id)> onCommand;  // on the dialog's thread
  bool endDuringInit = false;

  WindowHandle dialog = nullptr;
  std::thread thread;
  std::thread::id dialogThread;
  std::mutex mutex;
  std::vector<Command> commands;

  WindowHandle Item(int id) { return frontEnd->GetItem(dialog, id); }
  void ShowPrompt(bool show) {
    for (int id : {kEdit, kOk, kCancel}) {
      frontEnd->Show(Item(id), show);
    }
  }
  std::vector<Command> Commands() {
    std::lock_guard lock(mutex);
    return commands;
  }
  bool WaitForCommand(int id, unsigned code = 0) {
    return WaitUntil([&] {
      for (const Command& command : Commands()) {
        if (command.id == id && command.code == code) {
          return true;
        }
      }
      return false;
    });
  }
};

std::intptr_t ScriptProc(WindowHandle dialog, unsigned message, std::uintptr_t wParam,
                         std::intptr_t lParam) {
  if (message == WM_INITDIALOG) {
    auto* script = reinterpret_cast<Script*>(lParam);
    frontEnd->SetUserData(dialog, lParam);
    script->dialog = dialog;
    script->dialogThread = std::this_thread::get_id();
    frontEnd->Move(dialog, 0, 0, frontEnd->GetSystemMetrics(SM_CXSCREEN),
                   frontEnd->GetSystemMetrics(SM_CYSCREEN), false);
    if (script->endDuringInit) {
      frontEnd->EndDialog(dialog, 5);
    } else {
      script->thread = std::thread([script] { script->worker(*script); });
    }
    return 1;
  }
  if (message == WM_COMMAND) {
    auto* script = reinterpret_cast<Script*>(frontEnd->GetUserData(dialog));
    const int id = static_cast<int>(wParam & 0xFFFF);
    {
      std::lock_guard lock(script->mutex);
      script->commands.push_back({static_cast<unsigned>(wParam >> 16), id,
                                  std::this_thread::get_id() == script->dialogThread});
    }
    if (script->onCommand) {
      script->onCommand(*script, id);
    }
  }
  return 0;
}

std::intptr_t RunDialog(Script& script) {
  const std::intptr_t result =
      frontEnd->RunModal(Template(), &ScriptProc, reinterpret_cast<std::intptr_t>(&script));
  if (script.thread.joinable()) {
    script.thread.join();
  }
  return result;
}

// Ends the dialog when a worker leaves early (a failed expectation), so RunModal returns.
struct EndOnExit {
  Script& script;
  std::intptr_t result;
  bool armed = true;
  ~EndOnExit() {
    if (armed) {
      frontEnd->EndDialog(script.dialog, result);
    }
  }
};

class WindowFrontEndTest : public testing::Test {
 protected:
  void SetUp() override {
    FERROVAN_SKIP_WHEN_MISSING(window_testing::MissingTools());
    std::string why;
    server = window_testing::SharedServer(why);
    ASSERT_NE(server, nullptr) << why;
    frontEnd = platform::OpenWindowFrontEnd();
    ASSERT_NE(frontEnd, nullptr);
  }
};

TEST_F(WindowFrontEndTest, ATextSetFromAnyThreadIsCopiedAndInPlaceForTheNextRead) {
  Script script;
  script.worker = [](Script& s) {
    EndOnExit end{s, 7};  // from this thread, as CloseLoader does
    EXPECT_EQ(frontEnd->GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(frontEnd->GetSystemMetrics(SM_CYSCREEN), 640);
    WindowHandle status = s.Item(kStatus);
    ASSERT_NE(status, nullptr);

    // The caller's buffer is only needed for the length of the call.
    wchar_t buffer[64];
    std::wcscpy(buffer, L"Downloading\r\n42 of 100");
    frontEnd->SetText(status, buffer);
    std::wmemset(buffer, L'x', 63);
    EXPECT_EQ(TextOf(status), L"Downloading\r\n42 of 100");

    // "\r\n" is a line break: two lines fill both halves of the label, one line only the top.
    ASSERT_TRUE(WaitUntil([] { return server->Ink(BottomHalf(Rect(kStatus))) > 0; }));
    frontEnd->SetText(status, L"Downloading");
    ASSERT_TRUE(WaitUntil([] { return server->Ink(BottomHalf(Rect(kStatus))) == 0; }));
    EXPECT_GT(server->Ink(TopHalf(Rect(kStatus))), 0);

    // A word wider than the label (an address) wraps inside it instead of running off its edge.
    frontEnd->SetText(status, std::wstring(80, L'W').c_str());
    ASSERT_TRUE(WaitUntil([] { return server->Ink(BottomHalf(Rect(kStatus))) > 0; }));
    const platform::PixelRect label = Rect(kStatus);
    EXPECT_EQ(server->Ink({label.x + label.width, label.y, 480, label.height}), 0);

    // A text with '@' shows as typed.
    frontEnd->SetText(status, L"user@host");
    EXPECT_EQ(TextOf(status), L"user@host");

    // GetText keeps to the buffer: at most size - 1 characters and the terminator.
    WindowHandle edit = s.Item(kEdit);
    frontEnd->SetText(edit, L"abcdef\u00e9");
    EXPECT_EQ(TextOf(edit), L"abcdef\u00e9");
    EXPECT_EQ(TextOf(edit, 4), L"abc");
    EXPECT_EQ(TextOf(edit, 1), L"");

    // A burst of progress texts from two threads: every call returns, and the last one stays.
    auto burst = [&](const wchar_t* prefix) {
      for (int i = 0; i < 500; ++i) {
        wchar_t text[32];
        std::swprintf(text, 32, L"%ls %d", prefix, i);
        frontEnd->SetText(status, text);
      }
    };
    std::thread other(burst, L"b");
    burst(L"a");
    other.join();
    frontEnd->SetText(status, L"done");
    EXPECT_EQ(TextOf(status), L"done");

    // Show is posted as well: the read behind it sees it.
    WindowHandle ok = s.Item(kOk);
    for (const bool visible : {true, false, true, false}) {
      frontEnd->Show(ok, visible);
      EXPECT_EQ(frontEnd->IsVisible(ok), visible);
    }
  };
  EXPECT_EQ(RunDialog(script), 7);
  EXPECT_TRUE(server->FindWindows(kDialogClass).empty());
}

TEST_F(WindowFrontEndTest, KeysButtonsAndCloseRequestsReachTheDialogOnItsThread) {
  Script script;
  script.onCommand = [](Script& s, int id) {
    if (id == kCancel) {
      frontEnd->EndDialog(s.dialog, 3);
    }
  };
  script.worker = [](Script& s) {
    EndOnExit end{s, -1};
    s.ShowPrompt(true);
    frontEnd->SetText(s.Item(kEdit), L"http://a/");
    frontEnd->Focus(s.Item(kEdit));
    const std::string window = server->WaitForWindow(kDialogClass);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitUntil([] { return server->Ink(Rect(kOk)) > 0; }));

    // The focused edit box has its text selected: what is typed replaces it, then follows it.
    server->Type("h");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(s.Item(kEdit)) == L"h"; }));
    server->Type("b");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(s.Item(kEdit)) == L"hb"; }));
    EXPECT_TRUE(s.WaitForCommand(kEdit, 0x0300));  // EN_CHANGE

    server->Key("Return");
    ASSERT_TRUE(s.WaitForCommand(kOk));

    // Escape and a close request come as IDCANCEL, which this dialog ignores: it stays open.
    server->Key("Escape");
    ASSERT_TRUE(s.WaitForCommand(IDCANCEL));
    server->RequestClose(window);
    ASSERT_TRUE(WaitUntil([&] {
      int cancels = 0;
      for (const Command& command : s.Commands()) {
        cancels += command.id == IDCANCEL ? 1 : 0;
      }
      return cancels == 2;
    }));
    EXPECT_EQ(server->FindWindows(kDialogClass).size(), 1u);

    // A click presses Ok and gives it the focus; Tab then moves to Cancel, and Enter presses the
    // button that has the focus, not the default one.
    const platform::PixelRect ok = Rect(kOk);
    server->Click(ok.x + ok.width / 2, ok.y + ok.height / 2);
    ASSERT_TRUE(WaitUntil([&] {
      int oks = 0;
      for (const Command& command : s.Commands()) {
        oks += command.id == kOk ? 1 : 0;
      }
      return oks == 2;
    }));
    server->Key("Tab");
    server->Key("Return");
    ASSERT_TRUE(s.WaitForCommand(kCancel));
    int oks = 0;
    for (const Command& command : s.Commands()) {
      oks += command.id == kOk ? 1 : 0;
    }
    EXPECT_EQ(oks, 2);
    end.armed = false;  // Cancel ended it
    for (const Command& command : s.Commands()) {
      EXPECT_TRUE(command.onDialogThread) << command.id;
    }
  };
  EXPECT_EQ(RunDialog(script), 3);
  EXPECT_TRUE(server->FindWindows(kDialogClass).empty());
}

TEST_F(WindowFrontEndTest, MessageBoxHoldsTheWorkerUntilOk) {
  Script script;
  script.worker = [](Script& s) {
    EndOnExit end{s, 0};
    std::atomic<bool> returned{false};
    std::thread caller([&] {
      frontEnd->MessageBox(
          L"Could not execute file 'Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.wm.cab'.",
          L"Loader cannot continue");
      returned = true;
    });
    const std::string box = server->WaitForWindow("Loader cannot continue", true);
    EXPECT_FALSE(box.empty());
    window_testing::WindowGeometry geometry;
    if (!box.empty() && server->Geometry(box, geometry)) {
      // The long path wraps: the box stays on the screen.
      EXPECT_GT(geometry.width, 0);
      EXPECT_GE(geometry.x, 0);
      EXPECT_LE(geometry.x + geometry.width, 480);
      EXPECT_TRUE(WaitUntil([&] {
        return server->Ink({geometry.x, geometry.y, geometry.width, geometry.height}) > 0;
      }));
    }
    EXPECT_FALSE(returned);
    server->Key("Return");
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
    if (!returned) {
      frontEnd->EndDialog(s.dialog, 0);  // releases the caller
    }
    caller.join();
    EXPECT_TRUE(server->FindWindows("Loader cannot continue", true).empty());
  };
  RunDialog(script);
}

TEST_F(WindowFrontEndTest, EndDuringInitialisationNeverShowsTheWindow) {
  Script script;
  script.endDuringInit = true;
  EXPECT_EQ(RunDialog(script), 5);
  EXPECT_TRUE(server->FindWindows(kDialogClass).empty());
}

// The worker starts before the window is made. A worker that ends the dialog soon (the
// everyday start reaching the client) leaves no window behind it; a text set before the window
// exists is there when it appears, which, with nothing asked to be shown, is after a grace time.
TEST_F(WindowFrontEndTest, TheWindowWaitsUntilSomethingIsToBeShown) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kSure = std::chrono::milliseconds(100);  // well within the grace time
  for (bool endSoon : {true, false}) {
    SCOPED_TRACE(endSoon ? "ended soon" : "left running");
    Script script;
    const Clock::time_point started = Clock::now();
    script.worker = [&](Script& s) {
      EndOnExit end{s, 3};
      frontEnd->SetText(s.Item(kStatus), L"Checking\r\nfiles");
      std::this_thread::sleep_until(started + kSure);
      // Only where this thread got here in time does the window's absence tell anything.
      if (Clock::now() - started < 2 * kSure) {
        EXPECT_TRUE(server->FindWindows(kDialogClass).empty());
      }
      if (endSoon) {
        return;
      }
      ASSERT_FALSE(server->WaitForWindow(kDialogClass).empty());
      EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(250));
      EXPECT_EQ(TextOf(s.Item(kStatus)), L"Checking\r\nfiles");
      ASSERT_TRUE(WaitUntil([] { return server->Ink(BottomHalf(Rect(kStatus))) > 0; }));
    };
    EXPECT_EQ(RunDialog(script), 3);
    EXPECT_TRUE(server->FindWindows(kDialogClass).empty());
  }
}

// The prompt asked for before the window exists appears with the focus on its address.
TEST_F(WindowFrontEndTest, APromptAskedForBeforeTheWindowAppearsWithItsFocus) {
  Script script;
  script.worker = [](Script& s) {
    EndOnExit end{s, 0};
    frontEnd->SetText(s.Item(kEdit), L"server:8080/");
    s.ShowPrompt(true);
    frontEnd->Focus(s.Item(kEdit));
    ASSERT_FALSE(server->WaitForWindow(kDialogClass).empty());
    ASSERT_TRUE(WaitUntil([] { return server->Ink(Rect(kEdit)) > 0; }));
    // Typing replaces the whole selected address.
    server->Type("x");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(s.Item(kEdit)) == L"x"; }));
  };
  RunDialog(script);
}

TEST_F(WindowFrontEndTest, CallsAfterTheDialogHasClosedReturnAtOnce) {
  Script script;
  script.worker = [](Script& s) { frontEnd->EndDialog(s.dialog, 0); };
  RunDialog(script);
  WindowHandle status = script.Item(kStatus);
  ASSERT_NE(status, nullptr);
  auto late = std::async(std::launch::async, [&] {
    frontEnd->Show(status, true);
    frontEnd->SetText(status, L"late");
    frontEnd->EndDialog(script.dialog, 1);
    return TextOf(status);
  });
  ASSERT_EQ(late.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(late.get(), L"");
  EXPECT_EQ(frontEnd->GetUserData(script.dialog), reinterpret_cast<std::intptr_t>(&script));
}

}  // namespace
