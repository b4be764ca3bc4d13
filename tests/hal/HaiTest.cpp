// The file-backed HAL: what the flash and system-information adapters rely on.
#include <cstdlib>
#include <string>

#include "hal/Hai.h"
#include "tests/TestSupport.h"

namespace {

THaiHandle Open(const char* resource) {
  THaiHandle handle = nullptr;
  EXPECT_EQ(IHaiSystem_OpenResource(resource, "0", 0, &handle), 0);
  return handle;
}

std::string Read(THaiHandle flash, unsigned int location, unsigned int length) {
  std::string buffer(length, 'x');
  EXPECT_EQ(IHaiFlash_Read(flash, location, buffer.data(), length), 0);
  return buffer;
}

TEST(HaiTest, FlashAreasAreReadAsWrittenAndAMissingImageReadsAsErased) {
  test::THalRoot root;
  THaiHandle flash = Open("Flash");
  ASSERT_NE(flash, nullptr);
  EXPECT_EQ(Read(flash, 8192, 4), std::string(4, '\0'));
  ASSERT_EQ(IHaiFlash_Write(flash, 8192, "area\0", 5), 0);
  ASSERT_EQ(IHaiFlash_Write(flash, 100, "other", 5), 0);
  EXPECT_EQ(Read(flash, 8192, 8), std::string("area\0\0\0\0", 8));  // past the end: zeros
  EXPECT_EQ(Read(flash, 100, 5), "other");
  EXPECT_EQ(test::ListDirectory(root.File("var/hal")), std::vector<std::string>{"flash.img"});
  EXPECT_EQ(test::ReadFile(root.File("var/hal/flash.img")).size(), 8197u);
  // Beyond any real part, and with the wrong kind of handle.
  char byte;
  EXPECT_NE(IHaiFlash_Read(flash, 0xFFFFFFF0u, &byte, 1), 0);
  EXPECT_NE(IHaiFlash_Write(flash, 0x7FFFFFFFu, "x", 1), 0);
  THaiHandle firmware = Open("Firmware");
  EXPECT_NE(IHaiFlash_Read(firmware, 0, &byte, 1), 0);
  EXPECT_EQ(IHaiSystem_CloseResource(flash), 0);
  char* version = nullptr;
  EXPECT_NE(IHaiFirmware_GetVersion(firmware, &version), 0);
  test::WriteFile(root.File("var/hal/firmware-version"), "4.2.1\n");
  ASSERT_EQ(IHaiFirmware_GetVersion(firmware, &version), 0);
  EXPECT_STREQ(version, "4.2.1");
  std::free(version);
  EXPECT_EQ(IHaiSystem_CloseResource(firmware), 0);
  THaiHandle none = nullptr;
  EXPECT_NE(IHaiSystem_OpenResource("Flash", "1", 0, &none), 0);
  EXPECT_NE(IHaiSystem_OpenResource("Flash", "0", 1, &none), 0);
  EXPECT_NE(IHaiSystem_OpenResource("Tuner", "0", 0, &none), 0);
  EXPECT_EQ(none, nullptr);
}

TEST(HaiTest, SystemInfoComesFromItsFileAndMissingLinesAreEmpty) {
  test::THalRoot root;
  char* info[4] = {};
  EXPECT_NE(IHaiSystem_GetInfo(&info[0], &info[1], &info[2], &info[3]), 0);  // no file yet
  EXPECT_EQ(info[1], nullptr);
  test::WriteFile(root.File("var/hal/systeminfo"), "board\nmips-box\n");
  ASSERT_EQ(IHaiSystem_GetInfo(&info[0], &info[1], &info[2], &info[3]), 0);
  EXPECT_STREQ(info[0], "board");
  EXPECT_STREQ(info[1], "mips-box");
  EXPECT_STREQ(info[3], "");
  for (char* text : info) std::free(text);
}

}  // namespace
