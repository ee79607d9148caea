// The downloads of every host against the project's download service, which
// tests/platform/run_download_test.sh starts with a behaviour for each served name (see its list)
// and names in the environment: what arrives on disk, what the progress callback hears, that a
// failure leaves nothing behind, that a broken transfer resumes and that a file fetched before is
// taken from its kept copy.
#include "platform/download.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/common/cache_file_name.h"
#include "platform/common/kept_copies.h"
#include "platform/device_root.h"
#include "platform/host.h"
#include "tests/platform/download_host.h"
#include "tests/support/recording_callback.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Notification;
using testing_support::ReadFile;
using testing_support::RecordingCallback;
using testing_support::WriteFile;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << name << " is not set: run this program through run_download_test.sh";
    return {};
  }
  return value;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (char& c : text) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return text;
}

// The progress a device shows for a whole file: 4 once, then 5s, the last of them with the whole
// count; every one with the address and the total, and counts that never fall. A device's URL
// moniker then ends it with 6 at the same count.
void ExpectProgress(std::vector<Notification> notes, const std::wstring& url, std::size_t size,
                    std::uint32_t total) {
  if (download_host::kProgressEndsWithStatus6) {
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().status, BINDSTATUS_ENDDOWNLOADDATA);
    EXPECT_EQ(notes.back().progress, size);
    EXPECT_EQ(notes.back().total, total);
    EXPECT_EQ(notes.back().text, url);
    notes.pop_back();
  }
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(notes.front().status, BINDSTATUS_BEGINDOWNLOADDATA);
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      EXPECT_EQ(notes[i].status, BINDSTATUS_DOWNLOADINGDATA);
    }
    EXPECT_EQ(notes[i].text, url);
    EXPECT_EQ(notes[i].total, total);
    EXPECT_GE(notes[i].progress, previous);
    previous = notes[i].progress;
  }
  EXPECT_EQ(notes.back().progress, size) << "the last count is the whole file";
}

// A sink that keeps what it is shown, as a digest takes it, and starts again when told to (or
// cannot).
class KeepingSink : public platform::DownloadContentSink {
 public:
  explicit KeepingSink(bool restartable) : restartable_(restartable) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  // Refuses as many judgements as refusals says, as a release check refuses a file that is not
  // the release's.
  bool Complete() override { return refusals-- <= 0; }
  int refusals = 0;
  // A size given here is one whose bytes the sink proves whole, as a release check knows a file's
  // digest beforehand.
  bool ProvesWholeFile(std::uint64_t& size) const override {
    size = provenSize;
    return provenSize != 0;
  }
  std::uint64_t provenSize = 0;
  bool Restart() override {
    ++restarts;
    seen.clear();
    return restartable_;
  }
  std::string seen;
  int restarts = 0;

 private:
  bool restartable_;
};

class DownloadContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    download_host::BeginTest();
    base_ = Env("FERROVAN_TEST_SERVER");
    served_ = Env("FERROVAN_TEST_FOLDER");
    ASSERT_FALSE(base_.empty() || served_.empty());
    platform::SetDeviceRoot(device_.Path());
    ASSERT_TRUE(platform::CreateSystemFolders());
    testing_support::MakeFolders(Host(kFolder));
  }
  void TearDown() override { download_host::EndTest(); }

  std::wstring Url(const std::string& name) const { return platform::Utf8ToWide(base_ + name); }
  void Serve(const std::string& name, const std::string& content) {
    WriteFile(served_ + "/" + name, content);
  }
  // A new version put in place as a publisher does (a new file moved over the old): a response
  // under way goes on with the old one, the next request finds the new one.
  void Publish(const std::string& name, const std::string& content) {
    Serve(name + ".new", content);
    fs::rename(fs::u8path(served_ + "/" + name + ".new"), fs::u8path(served_ + "/" + name));
  }
  static std::string Host(const std::wstring& devicePath) {
    return platform::ToHostPath(devicePath);
  }
  static std::wstring Target(const std::string& name) {
    return kFolder + L"\\" + platform::Utf8ToWide(name);
  }

  HRESULT ToCache(const std::wstring& url, std::wstring& path, IBindStatusCallback* callback) {
    std::array<wchar_t, MAX_PATH> buffer{};
    buffer[0] = L'?';
    const HRESULT result =
        platform::Downloads().DownloadToCacheFile(url.c_str(), buffer, callback, nullptr);
    path = buffer.data();
    return result;
  }
  static HRESULT ToFile(const std::wstring& url, const std::wstring& target,
                        IBindStatusCallback* callback = nullptr,
                        platform::DownloadContentSink* content = nullptr) {
    return platform::Downloads().DownloadToFile(url.c_str(), target.c_str(), callback, content);
  }

  // What the device's Temp folder holds but the copies kept on purpose for the next download
  // ("ferrovan-kept.", with their records); a kept name half made is no such copy.
  std::vector<std::string> CopiesInTemp() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::u8path(Host(L"Temp")))) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with(kKeptPrefix) || name.ends_with(".new")) {
        names.push_back(name);
      }
    }
    return names;
  }

  static constexpr char kKeptPrefix[] = "ferrovan-kept.";
  static inline const std::wstring kFolder = L"Program Files\\FerroVanMobile";
  std::string base_;
  std::string served_;
  testing_support::TempDir device_;
};

TEST_F(DownloadContractTest, FetchesWholeFilesWithTheProgressOfADevice) {
  const std::string body = Pattern(700000, 7);
  Serve("whole.bin", body);
  Serve("empty.bin", "");
  const std::string nothing;
  const struct {
    const char* name;
    const std::string* content;
    bool toCache;
  } cases[] = {
      {"whole.bin", &body, true},
      {"whole.bin", &body, false},
      {"empty.bin", &nothing, true},
      {"empty.bin", &nothing, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.toCache ? "cache " : "file ") << c.name);
    const std::wstring url = Url(c.name);
    // Twice: the second download (on a connection the first may have left open) makes a copy
    // of its own, or replaces the file the first put in place.
    const std::vector<std::string> before = CopiesInTemp();  // the earlier cases' copies
    std::vector<std::wstring> copies;
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round);
      RecordingCallback progress;
      std::wstring path;
      if (c.toCache) {
        ASSERT_EQ(ToCache(url, path, &progress), S_OK);
        EXPECT_EQ(path.rfind(L"Temp\\" + platform::Utf8ToWide(platform::kCacheFilePrefix), 0), 0u)
            << platform::WideToUtf8(path);
        copies.push_back(path);
        EXPECT_EQ(CopiesInTemp().size(), before.size() + copies.size());
      } else {
        path = Target(c.name);
        // Longer than any file served, so that a copy written over it would show.
        WriteFile(Host(path), std::string(2 * body.size(), 'x'));
        ASSERT_EQ(ToFile(url, path, &progress), S_OK);
        EXPECT_EQ(CopiesInTemp(), before) << "a copy is left in Temp";
      }
      EXPECT_TRUE(ReadFile(Host(path)) == *c.content) << "wrong bytes in the copy";
      ExpectProgress(progress.DataNotes(), url, c.content->size(),
                     static_cast<std::uint32_t>(c.content->size()));
    }
    if (c.toCache) {
      EXPECT_NE(copies[0], copies[1]);
    }
  }
}

TEST_F(DownloadContractTest, FailedFetchesLeaveNoCopyAndTheOldTarget) {
  const std::string body = Pattern(300000, 11);
  Serve("missing.bin", body);  // the service answers 404 for it all the same
  Serve("cut.bin", body);      // the service sends its first 1000 bytes only
  Serve("huge.bin", body);     // the service announces 100 TB
  const struct {
    const char* what;
    std::wstring url;
    bool noBody = false;  // not a byte of the body is taken
  } cases[] = {
      {"404 for a file that exists", Url("missing.bin")},
      {"a name not in the folder", Url("nothing.dll")},
      {"body cut short", Url("cut.bin")},
      {"connection refused",
       L"http://127.0.0.1:1/FerroVanService/WebService/Downloads/unreachable.bin", true},
      {"a length larger than the device can store", Url("huge.bin"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingCallback progress;
    std::wstring path;
    EXPECT_NE(ToCache(c.url, path, &progress), S_OK);
    EXPECT_EQ(path, L"");
    for (const Notification& note : progress.DataNotes()) {
      EXPECT_NE(note.status, BINDSTATUS_ENDDOWNLOADDATA) << "a failed download ended";
      EXPECT_LT(note.progress, body.size()) << "a failed download reported the whole file";
    }
    if (c.noBody) {
      EXPECT_TRUE(progress.DataNotes().empty()) << "the body was taken";
    }
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";

    const std::wstring kept = Target("kept.dll");
    WriteFile(Host(kept), "old copy");
    EXPECT_NE(ToFile(c.url, kept), S_OK);
    EXPECT_EQ(ReadFile(Host(kept)), "old copy");
    const std::wstring absent = Target("absent.dll");
    EXPECT_NE(ToFile(c.url, absent), S_OK);
    EXPECT_FALSE(testing_support::Exists(Host(absent)));
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
  // A file the service has, into a folder the device lacks.
  Serve("whole.bin", body);
  EXPECT_NE(ToFile(Url("whole.bin"), L"No Such Folder\\whole.dll"), S_OK);
  EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
}

// A program beside the loader that, while the body arrives and once it is judged, tries to change
// every file in Temp and in the target's folder but the target itself: it changes none, and the
// file that takes the target's name holds exactly the bytes the sink saw.
class Neighbour : public platform::DownloadContentSink {
 public:
  Neighbour(std::vector<std::string> folders, std::string spared)
      : folders_(std::move(folders)), spared_(std::move(spared)) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Meddle();
    return true;
  }
  bool Complete() override {
    copiesAtCompletion = Meddle();
    return true;
  }
  std::string seen;
  int changed = 0;
  int copiesAtCompletion = 0;

 private:
  int Meddle() {
    int files = 0;
    for (const std::string& folder : folders_) {
      for (const auto& entry : fs::directory_iterator(fs::u8path(folder))) {
        if (entry.is_regular_file() && entry.path().filename().string() != spared_) {
          ++files;
          changed += download_host::TryToChange(entry.path());
        }
      }
    }
    return files;
  }
  std::vector<std::string> folders_;
  std::string spared_;
};

TEST_F(DownloadContractTest, NoOtherProgramCanChangeAFileBetweenItsCheckAndItsMove) {
  const std::string body = Pattern(700000, 13);
  Serve("checked.bin", body);  // sent slowly, so that the neighbour comes by many times
  const std::wstring target = Target("checked.dll");
  WriteFile(Host(target), "old copy");
  Neighbour neighbour({Host(L"Temp"), Host(kFolder)}, "checked.dll");
  ASSERT_EQ(ToFile(Url("checked.bin"), target, nullptr, &neighbour), S_OK);
  if (download_host::kHeldCopyHasAName) {
    EXPECT_EQ(neighbour.copiesAtCompletion, 1) << "the copy was not where the neighbour looked";
  }
  EXPECT_EQ(neighbour.changed, 0) << "the neighbour changed a copy";
  EXPECT_TRUE(neighbour.seen == body);
  EXPECT_TRUE(ReadFile(Host(target)) == body) << "the file in place is not the one seen";
  EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
}

// A connection that breaks mid-file (a hand-held roaming between access points) is resumed with a
// range on the same version of the file; a server that sends the whole file again starts the
// body again; a server that never lets the copy grow, or breaks it more often than the bound,
// fails the download with nothing left. The service breaks each name as the runner tells it.
TEST_F(DownloadContractTest, ABrokenTransferIsResumedWhereItStopped) {
  const std::string body = Pattern(700000, 17);
  const struct {
    const char* name;
    const char* what;
    bool sinkRestarts;
    bool fetched;
    int restarts;
    bool changes = false;  // a new version is published as the first bytes arrive
  } cases[] = {
      {"resumed.bin", "broken every 200 kB and resumed", true, true, 0},
      {"again.bin", "broken once, then sent whole", true, true, 1},
      {"again2.bin", "sent whole to a sink that cannot start again", false, false, 1},
      {"stuck.bin", "sent whole and broken at the same byte each time", true, false, 1},
      {"often.bin", "broken more often than a download resumes", true, false, 0},
      {"changed.bin", "changed before the range is asked for: sent whole", true, true, 1, true},
      {"changed2.bin", "changed, and a server that ignores If-Range: refused, not spliced", true,
       false, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Serve(c.name, body);
    const std::wstring url = Url(c.name);
    const std::wstring target = Target(c.name);
    KeepingSink sink(c.sinkRestarts);
    RecordingCallback progress;
    const std::string changed = Pattern(body.size(), 31);
    if (c.changes) {
      progress.onFirstData = [&] { Publish(c.name, changed); };
    }
    const std::string& served = c.changes ? changed : body;
    EXPECT_EQ(ToFile(url, target, &progress, &sink) == S_OK, c.fetched);
    EXPECT_EQ(sink.restarts, c.restarts);
    if (c.fetched) {
      EXPECT_TRUE(ReadFile(Host(target)) == served) << "the file differs from the one served";
      EXPECT_TRUE(sink.seen == served) << "the sink saw other bytes than the file's";
      if (c.restarts == 0) {
        // A resumed transfer counts on from where it stopped, against the whole file's length.
        ExpectProgress(progress.DataNotes(), url, body.size(),
                       static_cast<std::uint32_t>(body.size()));
      }
    } else {
      EXPECT_FALSE(testing_support::Exists(Host(target)));
    }
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// What a download keeps of the file it put in place lets the next download of that address ask
// whether it changed: a 304 puts the kept copy in place without a transfer, once it still hashes
// as it did; a damaged one (the installed file, which the kept link shares), or a file changed
// on the server, is fetched whole. A sink that proves the file by a digest it knows needs no
// question at all (status 0: no request).
TEST_F(DownloadContractTest, AFileFetchedBeforeIsRevalidatedAndTakenFromItsKeptCopy) {
  const std::string answers = Env("FERROVAN_TEST_ANSWERS");
  const std::string body = Pattern(700000, 19);
  const std::string changed = Pattern(500000, 23);
  Serve("kept.bin", body);
  const std::wstring url = Url("kept.bin");
  const std::string installed = Host(Target("kept.dll"));
  const auto keptCopy = [&] {
    for (const auto& entry : fs::directory_iterator(fs::u8path(Host(L"Temp")))) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(std::string(kKeptPrefix) + "kept.bin.") && name.ends_with(".copy")) {
        return entry.path();
      }
    }
    return fs::path("no kept copy");
  };
  const auto nothing = [] {};
  const auto damage = [&] {
    std::fstream file(fs::u8path(installed), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(1000);
    file.put('X');
    ASSERT_TRUE(file.flush()) << "cannot damage the installed file";
  };
  const struct {
    const char* what;
    std::function<void()> before;
    int status;
    const std::string* content;
    int refusals = 0;
    bool proves = false;
  } cases[] = {
      {"the first download", nothing, 200, &body},
      {"again, the file removed as a forced upgrade clears it",
       [&] { fs::remove(fs::u8path(installed)); }, 304, &body},
      {"again, the file in place", nothing, 304, &body},
      {"the installed file damaged where it lies", damage, 200, &body},
      {"the file changed on the server", [&] { Publish("kept.bin", changed); }, 200, &changed},
      {"and then not", nothing, 304, &changed},
      // As a release check refuses a kept copy that a server rolled back to: it goes, and the
      // file is fetched whole at once.
      {"a kept copy that the sink refuses", nothing, 200, &changed, 1},
      {"and then the kept copy of that", nothing, 304, &changed},
      {"a sink that proves the kept copy", nothing, 0, &changed, 0, true},
      {"and refuses it after all: fetched whole", nothing, 200, &changed, 1, true},
      {"the file removed, then proven from the kept copy",
       [&] { fs::remove(fs::u8path(installed)); }, 0, &changed, 0, true},
      {"damaged, with a sink that would prove it", damage, 200, &changed, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    KeepingSink sink(true);
    sink.refusals = c.refusals;
    sink.provenSize = c.proves ? c.content->size() : 0;
    RecordingCallback progress;
    const std::size_t answered = ReadFile(answers).size();
    ASSERT_EQ(ToFile(url, Target("kept.dll"), &progress, &sink), S_OK);
    const std::string log = ReadFile(answers);
    const std::size_t last = log.rfind('\n', log.size() - 2);
    if (c.status == 0) {
      EXPECT_EQ(log.size(), answered) << "the server was asked";
    } else {
      EXPECT_EQ(log.substr(last == std::string::npos ? 0 : last + 1),
                std::to_string(c.status) + " /FerroVanService/WebService/Downloads/kept.bin\n");
    }
    EXPECT_TRUE(ReadFile(installed) == *c.content) << "the file in place differs";
    EXPECT_TRUE(sink.seen == *c.content) << "the sink saw other bytes";
    // Taken from the kept copy, it shows as done, with its size.
    const std::vector<Notification> notes = progress.DataNotes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().progress, c.content->size());
    EXPECT_EQ(notes.back().total, c.content->size());
    EXPECT_TRUE(fs::equivalent(keptCopy(), fs::u8path(installed)))
        << "the kept copy is no hard link";
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// A download that breaks more often than one call resumes keeps what arrived as the address's
// part: the next call (the Ok at the prompt, or the next start) shows it to its sink and asks for
// the rest only, on the same version, counting on from there. A file changed meanwhile is fetched
// anew; a damaged part is not used; a server that ignores If-Range cannot splice a new version
// onto the part, which is gone then.
TEST_F(DownloadContractTest, APartOfABrokenDownloadIsResumedByTheNextOne) {
  const std::string answers = Env("FERROVAN_TEST_ANSWERS");
  // Broken every 50 kB, nine tries a call: two calls bring 900 kB.
  const std::string body = Pattern(700000, 37);
  const std::string changed = Pattern(700000, 41);
  Serve("parted.bin", body);
  Serve("parted2.bin", body);
  const auto partOf = [&](const std::string& name) {
    for (const auto& entry : fs::directory_iterator(fs::u8path(Host(L"Temp")))) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with(kKeptPrefix + name + ".") && file.ends_with(".part")) {
        return entry.path();
      }
    }
    return fs::path();
  };
  const auto clearTemp = [&] {
    for (const auto& entry : fs::directory_iterator(fs::u8path(Host(L"Temp")))) {
      fs::remove_all(entry.path());
    }
  };
  const auto nothing = [] {};
  const struct {
    const char* what;
    const char* name;
    std::function<void()> before;
    bool fetched;
    std::size_t partAfter;  // the bytes kept for the next call
    const std::string* content;
    int restarts;
    const char* firstAnswer;  // the status of the call's first request
  } cases[] = {
      {"the first call breaks too often", "parted.bin", nothing, false, 450000, &body, 0, "200"},
      {"the next goes on where it stopped", "parted.bin", nothing, true, 0, &body, 0, "206"},
      {"broken again, with nothing kept", "parted.bin", clearTemp, false, 450000, &body, 0, "200"},
      {"the file changed meanwhile: fetched anew", "parted.bin",
       [&] { Publish("parted.bin", changed); }, false, 450000, &changed, 1, "200"},
      {"and finished", "parted.bin", nothing, true, 0, &changed, 0, "206"},
      {"broken once more", "parted.bin", [&] { Publish("parted.bin", body); }, false, 450000, &body,
       0, "200"},
      {"a damaged part is not used", "parted.bin",
       [&] {
         std::fstream file(partOf("parted.bin"), std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(1000);
         file.put('X');
         ASSERT_TRUE(file.flush()) << "cannot damage the part";
       },
       false, 450000, &body, 0, "200"},
      {"a part from a server that ignores If-Range", "parted2.bin", nothing, false, 450000, &body,
       0, "200"},
      {"changed: refused, not spliced, and the part gone", "parted2.bin",
       [&] { Publish("parted2.bin", changed); }, false, 0, &changed, 0, "206"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    const std::size_t answered = ReadFile(answers).size();
    KeepingSink sink(true);
    RecordingCallback progress;
    const std::wstring target = Target(std::string(c.name) + ".dll");
    EXPECT_EQ(ToFile(Url(c.name), target, &progress, &sink) == S_OK, c.fetched);
    EXPECT_EQ(sink.restarts, c.restarts);
    EXPECT_EQ(ReadFile(answers).substr(answered, 4), std::string(c.firstAnswer) + " ");
    const fs::path part = partOf(c.name);
    EXPECT_EQ(part.empty() ? 0 : fs::file_size(part), c.partAfter);
    if (c.partAfter != 0 && !part.empty()) {
      EXPECT_TRUE(ReadFile(part.string()) ==
                  c.content->substr(0, static_cast<std::size_t>(c.partAfter)))
          << "the part is not the file's start";
    }
    if (c.fetched) {
      EXPECT_TRUE(ReadFile(Host(target)) == *c.content);
      EXPECT_TRUE(sink.seen == *c.content) << "the sink saw other bytes than the file's";
      // Counted on from the part, against the whole length.
      const std::vector<Notification> notes = progress.DataNotes();
      ASSERT_FALSE(notes.empty());
      EXPECT_GE(notes.front().progress, 450000u);
      EXPECT_EQ(notes.back().progress, c.content->size());
      EXPECT_EQ(notes.back().total, c.content->size());
    }
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// A part kept for an address stays when the next try finds no server there (a hand-held still out
// of reach when the user presses Ok), for the try after.
TEST_F(DownloadContractTest, APartOutlivesATryThatFindsNoServer) {
  const std::string url = "http://127.0.0.1:1/FerroVanService/WebService/Downloads/away.bin";
  const std::wstring wideUrl = platform::Utf8ToWide(url);
  const fs::path part = fs::u8path(Host(L"Temp") + "/" +
                                   platform::KeptCopyName(wideUrl.c_str(), platform::Kept::kPart));
  const std::string bytes = Pattern(300000, 43);
  WriteFile(part.string(), bytes);
  platform::KeptRecord record;
  record.url = url;
  record.etag = "\"v1\"";
  record.size = bytes.size();
  platform::KeptDigest digest;
  digest.Add({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  record.digest = digest.Hex();
  WriteFile(part.string() + platform::kKeptRecordSuffix, platform::FormatKeptRecord(record));

  KeepingSink sink(true);
  EXPECT_NE(ToFile(wideUrl, Target("away.dll"), nullptr, &sink), S_OK);
  EXPECT_FALSE(testing_support::Exists(Host(Target("away.dll"))));
  ASSERT_TRUE(fs::exists(part)) << "the part was lost";
  EXPECT_TRUE(ReadFile(part.string()) == bytes);
  EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
}

}  // namespace
