#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/TUniqueFd.h"
#include "os/WriteAll.h"

namespace {

// A reader that does not read, or has gone, ends the write with an error: never a wait, a
// spin on EAGAIN, or a signal that ends the process (which ignores SIGPIPE, as the daemon does).
TEST(WriteAllTest, FullOrBrokenPipeFailsAtOnce) {
  const auto previous = ::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
  TUniqueFd reader(ends[0]);
  TUniqueFd writer(ends[1]);
  EXPECT_TRUE(WriteAll(writer.Get(), "ab", 2));
  const std::string big(1024 * 1024, 'x');
  EXPECT_FALSE(WriteAll(writer.Get(), big.data(), big.size()));
  EXPECT_EQ(errno, EAGAIN);
  reader.Reset();
  EXPECT_FALSE(WriteAll(writer.Get(), "c", 1));
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(writer.Close(), 0);
  EXPECT_FALSE(writer.IsValid());
  ::signal(SIGPIPE, previous);
}

}  // namespace
