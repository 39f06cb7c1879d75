#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "flashkit/interface/flashkit.h"
#include "platform/posix/pipe_status_post.h"

namespace platform {
namespace {

void* WindowOf(int fd) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)); }

class PipeStatusPostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe(fds_), 0); }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  // Posts on another thread and reports whether the call came back within a second.
  bool PostReturnsPromptly(std::uintptr_t wParam) {
    auto done = std::async(std::launch::async, [&] {
      post_.Post(WindowOf(fds_[1]), FLASHKIT_STATUS_MESSAGE, wParam, 0);
    });
    const bool prompt = done.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    if (!prompt) Drain();  // let the stuck call finish so that the test can end
    return prompt;
  }
  void Drain() {
    fcntl(fds_[0], F_SETFL, fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
    char sink[65536];
    while (read(fds_[0], sink, sizeof sink) > 0) {
    }
  }

  int fds_[2] = {-1, -1};
  PipeStatusPost post_;
};

TEST_F(PipeStatusPostTest, EachPostArrivesAsOneRecord) {
  post_.Post(WindowOf(fds_[1]), FLASHKIT_STATUS_MESSAGE, 0x75EC, 9);
  post_.Post(WindowOf(fds_[1]), FLASHKIT_STATUS_MESSAGE, 100, 0);
  post_.Post(WindowOf(fds_[1]), 0x1234, 0, -1);
  FlashkitStatusRecord records[3] = {};
  ASSERT_EQ(read(fds_[0], records, sizeof records), static_cast<ssize_t>(sizeof records));
  EXPECT_EQ(records[0].message, 0x8001u);
  EXPECT_EQ(records[0].wParam, 0x75ECu);
  EXPECT_EQ(records[0].lParam, 9);
  EXPECT_EQ(records[1].wParam, 100u);
  EXPECT_EQ(records[1].lParam, 0);
  EXPECT_EQ(records[2].message, 0x1234u);
  EXPECT_EQ(records[2].lParam, -1);
}

TEST_F(PipeStatusPostTest, FullPipeDropsThePostWithoutBlocking) {
  // Fill the pipe, then hand it back in blocking mode: the post must not wait.
  const int flags = fcntl(fds_[1], F_GETFL);
  fcntl(fds_[1], F_SETFL, flags | O_NONBLOCK);
  const char filler[256] = {};
  std::size_t queued = 0;
  for (ssize_t n; (n = write(fds_[1], filler, sizeof filler)) > 0;) queued += n;
  fcntl(fds_[1], F_SETFL, flags);
  ASSERT_GT(queued, 0u);

  ASSERT_TRUE(PostReturnsPromptly(1));
  // Room again once a page has been read: the next post arrives whole after the filler.
  std::vector<char> page(4096);
  ASSERT_EQ(read(fds_[0], page.data(), page.size()), static_cast<ssize_t>(page.size()));
  ASSERT_TRUE(PostReturnsPromptly(42));
  fcntl(fds_[0], F_SETFL, fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
  std::string data;
  char chunk[4096];
  for (ssize_t n; (n = read(fds_[0], chunk, sizeof chunk)) > 0;) data.append(chunk, n);
  ASSERT_EQ(data.size(), queued - page.size() + sizeof(FlashkitStatusRecord));
  FlashkitStatusRecord last{};
  std::memcpy(&last, data.data() + data.size() - sizeof last, sizeof last);
  EXPECT_EQ(last.wParam, 42u);
}

TEST_F(PipeStatusPostTest, ClosedReaderNeitherKillsNorLeavesASignal) {
  close(fds_[0]);
  fds_[0] = -1;
  // The default SIGPIPE action would end this process here.
  ASSERT_TRUE(PostReturnsPromptly(5));
  post_.Post(WindowOf(fds_[1]), FLASHKIT_STATUS_MESSAGE, 6, 0);

  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGPIPE)) << "the caller's signal mask was not restored";
}

TEST_F(PipeStatusPostTest, NullOrClosedWindowIsIgnored) {
  post_.Post(nullptr, FLASHKIT_STATUS_MESSAGE, 0, 4);
  post_.Post(WindowOf(-1), FLASHKIT_STATUS_MESSAGE, 0, 4);
  const int closed = dup(fds_[1]);
  close(closed);
  post_.Post(WindowOf(closed), FLASHKIT_STATUS_MESSAGE, 0, 4);
  fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  char byte;
  EXPECT_EQ(read(fds_[0], &byte, 1), -1);  // nothing reached the pipe
}

}  // namespace
}  // namespace platform
