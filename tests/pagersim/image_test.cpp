// Raw memory images of the simulated pager: a file larger than the memory,
// and a pipe or a device, are refused without being read to their end.
#include "tools/pagersim/image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

TEST(Image, LargeFilesPipesAndDevicesAreRefused) {
  signal(SIGPIPE, SIG_IGN);
  char tmpl[] = "/tmp/pagersim-image-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  auto memory = std::make_unique<pagersim::Memory>();
  std::string error;

  std::ofstream(dir + "/big.bin", std::ios::binary) << std::string(70000, 'x');
  EXPECT_FALSE(pagersim::LoadImage(dir + "/big.bin", 0, *memory, &error));
  EXPECT_NE(error.find("more than 65536 bytes"), std::string::npos) << error;

  // A pipe that brings a megabyte: refused at once, not read to its end.
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    for (int i = 0; i < 50 && fd < 0; ++i) {
      usleep(20000);
      fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    }
    if (fd >= 0) close(fd);
  });
  error.clear();
  EXPECT_FALSE(pagersim::LoadImage(fifo, 0, *memory, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  writer.join();
  std::filesystem::remove_all(dir);
}

}  // namespace
