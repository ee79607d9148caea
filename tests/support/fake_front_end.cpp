#include "tests/support/fake_front_end.h"

#include <algorithm>

namespace testing_support {

std::intptr_t FakeFrontEnd::RunModal(const platform::DialogTemplate& dialogTemplate,
                                     platform::DialogProc proc, std::intptr_t param) {
  {
    std::lock_guard lock(mutex_);
    proc_ = proc;
    ended_ = false;
    for (const auto& control : dialogTemplate.controls) {
      visible_[control.id] = control.visible;
      texts_[control.id].push_back(control.text);
    }
  }
  proc(Handle(0), WM_INITDIALOG, 0, param);
  std::unique_lock lock(mutex_);
  while (!ended_) {
    if (tasks_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  return 0;
}

void FakeFrontEnd::SetUserData(platform::WindowHandle window, std::intptr_t value) {
  std::lock_guard lock(mutex_);
  userData_[IdOf(window)] = value;
}

std::intptr_t FakeFrontEnd::GetUserData(platform::WindowHandle window) {
  std::lock_guard lock(mutex_);
  return userData_[IdOf(window)];
}

void FakeFrontEnd::Move(platform::WindowHandle window, int x, int y, int width, int height, bool) {
  Record(L"Move " + std::to_wstring(IdOf(window)) + L" " + std::to_wstring(x) + L" " +
         std::to_wstring(y) + L" " + std::to_wstring(width) + L" " + std::to_wstring(height));
  std::lock_guard lock(mutex_);
  if (IdOf(window) == 0) {
    dialogSize_ = {width, height};
  }
}

void FakeFrontEnd::Show(platform::WindowHandle window, bool visible) {
  Record(L"Show " + std::to_wstring(IdOf(window)) + (visible ? L" 1" : L" 0"));
  std::lock_guard lock(mutex_);
  visible_[IdOf(window)] = visible;
  changed_.notify_all();
}

void FakeFrontEnd::Focus(platform::WindowHandle control) {
  Record(L"Focus " + std::to_wstring(IdOf(control)));
}

void FakeFrontEnd::SetText(platform::WindowHandle window, const wchar_t* text) {
  Record(L"SetText " + std::to_wstring(IdOf(window)) + L" " + text);
  std::lock_guard lock(mutex_);
  texts_[IdOf(window)].push_back(text);
  changed_.notify_all();
}

int FakeFrontEnd::GetText(platform::WindowHandle window, std::span<wchar_t> text) {
  std::wstring current = TextOf(IdOf(window));
  if (text.empty()) {
    return 0;
  }
  std::size_t length = std::min(current.size(), text.size() - 1);
  current.copy(text.data(), length);
  text[length] = L'\0';
  return static_cast<int>(length);
}

void FakeFrontEnd::EndDialog(platform::WindowHandle, std::intptr_t result) {
  Record(L"End " + std::to_wstring(result));
  std::lock_guard lock(mutex_);
  ++ends_;
  ended_ = true;
  changed_.notify_all();
}

void FakeFrontEnd::MessageBox(const wchar_t* text, const wchar_t* caption) {
  Record(std::wstring(L"MessageBox ") + caption + L": " + text);
  std::lock_guard lock(mutex_);
  boxes_.emplace_back(caption, text);
  changed_.notify_all();
}

void FakeFrontEnd::BackgroundThreadEnded() {
  std::lock_guard lock(mutex_);
  ++threadsEnded_;
  changed_.notify_all();
}

void FakeFrontEnd::Post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  changed_.notify_all();
}

void FakeFrontEnd::Command(int controlId) {
  Post([this, controlId] {
    platform::DialogProc proc;
    {
      std::lock_guard lock(mutex_);
      proc = proc_;
    }
    proc(Handle(0), WM_COMMAND, static_cast<std::uintptr_t>(controlId), 0);
  });
}

bool FakeFrontEnd::WaitFor(const std::function<bool(FakeFrontEnd&)>& predicate,
                           std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (predicate(*this)) {
      return true;
    }
    std::unique_lock lock(mutex_);
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      lock.unlock();
      return predicate(*this);
    }
  }
}

std::vector<std::wstring> FakeFrontEnd::TextsOf(int id) {
  std::lock_guard lock(mutex_);
  return texts_[id];
}

std::wstring FakeFrontEnd::TextOf(int id) {
  std::lock_guard lock(mutex_);
  const auto& texts = texts_[id];
  return texts.empty() ? std::wstring() : texts.back();
}

bool FakeFrontEnd::Visible(int id) {
  std::lock_guard lock(mutex_);
  return visible_[id];
}

std::vector<std::pair<std::wstring, std::wstring>> FakeFrontEnd::MessageBoxes() {
  std::lock_guard lock(mutex_);
  return boxes_;
}

int FakeFrontEnd::EndCount() {
  std::lock_guard lock(mutex_);
  return ends_;
}

int FakeFrontEnd::ThreadsEnded() {
  std::lock_guard lock(mutex_);
  return threadsEnded_;
}

std::vector<std::wstring> FakeFrontEnd::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::pair<int, int> FakeFrontEnd::DialogSize() {
  std::lock_guard lock(mutex_);
  return dialogSize_;
}

void FakeFrontEnd::Record(std::wstring call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

}  // namespace testing_support
