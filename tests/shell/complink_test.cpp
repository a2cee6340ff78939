// The compiler link against a stand-in compiler (tests/support/complink_peer.cpp) that plays
// well-behaved and hostile compilers. After every case no compiler process and no shared object
// may be left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/err.h"
#include "core/pack.h"
#include "core/sys.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "shell/complink.h"
#include "shell/startup.h"

namespace fs = std::filesystem;

namespace {

std::string Rec(const std::string& name, const std::string& data) {
  std::string r;
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; i++) r += static_cast<char>(v >> (8 * i));
  };
  put(static_cast<uint32_t>(name.size() + 1));
  r += name;
  r += '\0';
  put(static_cast<uint32_t>(data.size()));
  return r + data;
}

std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (unsigned char c : bytes) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

const char* kPeerVars[] = {"PEER_COUNT", "PEER_SIZE", "PEER_BLOCK", "PEER_FOLDER", "PEER_RESULT", "PEER_EXIT"};

struct CompilerLinkTest : ::testing::Test {
  fs::path root;
  std::string saved_cwd;
  void SetUp() override {
    saved_cwd = PlatCurrentFolder();
    char tmpl[] = "/tmp/zephra-link-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root / "game");
    SysReset();
    PackReset();
    PlatFileReset();
    ErrReset();
    std::string game = (root / "game").string();
    char* argv[] = {const_cast<char*>("zephra"), game.data()};
    ASSERT_EQ(SysParseCommandLine(2, argv), 0);
    SysInitPaths();
    PlatSetCurrentFolder(g_GameFolderNative);
    g_ScriptCompilerPath = COMPLINK_PEER_BIN;
    setenv("PEER_PIDFILE", (root / "peer.pid").c_str(), 1);
  }
  void TearDown() override {
    for (const char* v : kPeerVars) unsetenv(v);
    g_ScriptCompilerPath.clear();
    PackReset();
    SysReset();
    ErrReset();
    PlatSetCurrentFolder(saved_cwd);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  // Runs the link with the peer set up by vars; returns its result and what the dialogs printed.
  i32 Link(const std::vector<std::pair<const char*, std::string>>& vars, std::string* printed) {
    for (const char* v : kPeerVars) unsetenv(v);
    for (const auto& [k, v] : vars) setenv(k, v.c_str(), 1);
    fs::remove(root / "peer.pid");
    testing::internal::CaptureStderr();
    i32 r = ScriptCompilerLink();
    *printed = testing::internal::GetCapturedStderr();
    return r;
  }
  // Nothing outlives the link: the peer has ended (and was reaped), no object carries our number.
  void ExpectNothingLeft(const std::string& what) {
    std::ifstream f(root / "peer.pid");
    int pid = 0;
    if (f >> pid) {
      EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << what << ": the compiler still runs";
    }
    const std::string ours = "-" + std::to_string(getpid()) + "-";
    for (const auto& e : fs::directory_iterator("/dev/shm")) {
      std::string n = e.path().filename().string();
      EXPECT_FALSE(n.rfind("ZEPHRACompilerFileMapObject", 0) == 0 && n.find(ours) != std::string::npos)
          << what << ": " << n << " left in /dev/shm";
    }
  }
};

const char* kCommFailure = "ZEPHRAコンパイラとデータ通信が出来ませんでした。";

}  // namespace

TEST_F(CompilerLinkTest, HandedOverFilesAreReadThroughTheHandOverSource) {
  std::string block = Rec("chbin\\zpc.zbn", "AAA") + Rec("cg\\bg.bmp", std::string("B\0M", 3)) + Rec("empty.dat", "");
  std::string printed;
  ASSERT_EQ(Link({{"PEER_COUNT", "3"}, {"PEER_BLOCK", Hex(block)}}, &printed), 0) << printed;
  ExpectNothingLeft("three files");
  ASSERT_EQ(g_PackLinkedCount, 3);
  const std::pair<const char*, std::string> want[] = {
      {"CHBIN\\ZPC.ZBN", "AAA"}, {"cg\\bg.bmp", std::string("B\0M", 3)}, {"empty.dat", ""}};
  for (const auto& [name, data] : want) {
    PackLookup lk{};
    ASSERT_EQ(PackFindAnySource(&lk, name, 1), PACK_SOURCE_LINKED) << name;
    ASSERT_EQ(PackReadFromLinkedFile(&lk, name), 0) << name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(lk.data), lk.size), data) << name;
    std::free(lk.data);
  }
  EXPECT_STREQ(g_WorkFolder, g_ExeFolder) << "the folder comes back unchanged";
}

TEST_F(CompilerLinkTest, NamesSomeoneTookFirstAreLeftAloneAndOthersUsed) {
  // What another user could make ahead of a run: the names that only a process number would give.
  const std::string pid = "-" + std::to_string(getpid());
  const std::string taken[] = {LINK_MAP_NAME + pid, LINK_MAP2_NAME + pid};
  for (const std::string& n : taken) {
    const int fd = shm_open(n.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << n;
    close(fd);
  }
  std::string printed;
  EXPECT_EQ(Link({{"PEER_COUNT", "1"}, {"PEER_BLOCK", Hex(Rec("a.txt", "A"))}}, &printed), 0) << printed;
  EXPECT_EQ(g_PackLinkedCount, 1);
  for (const std::string& n : taken) {
    EXPECT_TRUE(fs::exists("/dev/shm" + n)) << n << " is not the run's to remove";
    shm_unlink(n.c_str());
  }
  ExpectNothingLeft("names taken");
}

TEST_F(CompilerLinkTest, CountZeroLeavesTheHandOverEmpty) {
  std::string printed;
  EXPECT_EQ(Link({{"PEER_COUNT", "0"}}, &printed), 0) << printed;
  EXPECT_EQ(g_PackLinkedCount, 0);
  EXPECT_EQ(printed.find("[message box]"), std::string::npos) << printed;
  ExpectNothingLeft("count 0");
}

TEST_F(CompilerLinkTest, CompilerEndingBeforeReadyStopsWithoutAMessage) {
  std::string printed;
  EXPECT_EQ(Link({{"PEER_EXIT", "early"}}, &printed), 1);
  EXPECT_EQ(printed, "");
  ExpectNothingLeft("early end");
}

// Everything the compiler wrote is checked as it is read: a hostile record, count or folder is
// refused with the communication box and nothing is read past the block.
TEST_F(CompilerLinkTest, HostileHandOverIsRefusedWithTheCommunicationBox) {
  std::string one = Rec("a.txt", "xyz");
  std::string long_name = one;
  long_name[0] = 100;  // the name runs past the block
  std::string unterminated = one;
  unterminated[4 + 5] = 'x';  // the byte counted as the terminator
  std::string long_data = one;
  long_data[4 + 6] = 4;  // one byte more than is there
  std::string folder_long(300, 'a');
  std::string folder_unended(380, 'a');
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, std::string>> vars;
  } cases[] = {
      {"negative count", {{"PEER_COUNT", "-1"}, {"PEER_BLOCK", Hex(one)}}},
      {"more records than written", {{"PEER_COUNT", "2"}, {"PEER_BLOCK", Hex(one)}}},
      {"more records than could fit", {{"PEER_COUNT", "1000000"}, {"PEER_BLOCK", Hex(one)}}},
      {"name past the block", {{"PEER_COUNT", "1"}, {"PEER_BLOCK", Hex(long_name)}}},
      {"name without its terminator", {{"PEER_COUNT", "1"}, {"PEER_BLOCK", Hex(unterminated)}}},
      {"data past the block", {{"PEER_COUNT", "1"}, {"PEER_BLOCK", Hex(long_data)}}},
      {"folder not ended in its field", {{"PEER_FOLDER", Hex(folder_unended)}}},
      {"folder longer than the work folder", {{"PEER_FOLDER", Hex(folder_long + std::string(1, '\0'))}}},
      {"folder that cannot be entered", {{"PEER_FOLDER", Hex(std::string("\\no\\such\\folder\\") + '\0')}}},
  };
  for (const Case& c : cases) {
    PackReset();
    std::string printed;
    EXPECT_EQ(Link(c.vars, &printed), -1) << c.what;
    EXPECT_NE(printed.find(kCommFailure), std::string::npos) << c.what << "\n" << printed;
    EXPECT_EQ(g_PackLinkedCount, 0) << c.what;
    ExpectNothingLeft(c.what);
  }
}

TEST_F(CompilerLinkTest, UnallocatableSizeRaisesTheOutOfMemoryError) {
  std::string printed;
  EXPECT_EQ(Link({{"PEER_COUNT", "1"}, {"PEER_SIZE", "4294967295"}}, &printed), -1);
  EXPECT_NE(printed.find("メモリ不足"), std::string::npos) << printed;
  EXPECT_TRUE(g_ErrFatalRaised.load());
  ExpectNothingLeft("size 4294967295");
}

TEST_F(CompilerLinkTest, QuitRequestDuringTheWaitEndsTheCompiler) {
  PlatQuitSignalsInstall(&g_QuitRequested);
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(getpid(), SIGTERM);
  });
  std::string printed;
  EXPECT_EQ(Link({{"PEER_EXIT", "hang"}}, &printed), -1);
  signaller.join();
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  EXPECT_TRUE(PlatQuitSignalled());
  PlatQuitSignalledClear();
  EXPECT_TRUE(g_QuitRequested.load()) << "the run ends as asked";
  g_QuitRequested = 0;
  ExpectNothingLeft("quit");
}

TEST_F(CompilerLinkTest, MissingCompilerShowsTheNotices) {
  g_ScriptCompilerPath = (root / "zpkit").string();
  std::string printed;
  EXPECT_EQ(Link({}, &printed), 1);
  EXPECT_NE(printed.find("[error dialog] License Information"), std::string::npos) << printed;
  EXPECT_TRUE(g_ErrFatalRaised.load());
}
