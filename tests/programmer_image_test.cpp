// Trimming and comparing the images: the rules uploads and verifications rest on.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "image.h"

namespace {

void set_readback(std::initializer_list<int> bytes) {
  fill_readback_image(0x77);
  int i = 0;
  for (int b : bytes) readback_image[i++] = static_cast<uint8_t>(b);
}

// Each row: the read-back's first bytes (0x77 beyond them), the length asked, the result.
TEST(TrimmedLength, DropsTrailingFFAndExaminesEveryByteTheLastIncluded) {
  const struct {
    std::initializer_list<int> bytes;
    int length, trimmed;
  } rows[] = {
      {{0x12, 0x34, 0xFF, 0xFF, 0xFF, 0x56}, 6, 6},  // the last byte counts
      {{0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 6, 1},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x56}, 6, 6},
      {{0xFF, 0xFF, 0xFF}, 3, 0},
      {{0x01, 0x02, 0x03, 0x04}, 4, 4},
      {{0x12}, 1, 1},
      {{0x12}, 0, 0},
      {{0x12}, -5, 0},
  };
  for (const auto& row : rows) {
    set_readback(row.bytes);
    EXPECT_EQ(trimmed_length(row.length), row.trimmed) << "length " << row.length;
  }
}

TEST(TrimmedLength, AWholeErasedMemory) {
  fill_readback_image(0xFF);
  EXPECT_EQ(trimmed_length(2048), 0);
  readback_image[1000] = 0x00;
  EXPECT_EQ(trimmed_length(2048), 1001);
  readback_image[IMAGE_SIZE - 1] = 0x00;
  EXPECT_EQ(trimmed_length(IMAGE_SIZE), IMAGE_SIZE);
  EXPECT_EQ(trimmed_length(IMAGE_SIZE + 100), IMAGE_SIZE) << "lengths are kept to the image";
}

TEST(CompareImages, CountsDifferingBytesInTheRangeOnly) {
  fill_load_image(0xAA);
  fill_readback_image(0xAA);
  testing::internal::CaptureStdout();
  EXPECT_EQ(compare_images(IMAGE_SIZE), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a match prints nothing";

  readback_image[0] = 0;
  readback_image[7] = 0;
  readback_image[99] = 0;
  readback_image[100] = 0;  // just outside [0, 100)
  testing::internal::CaptureStdout();
  EXPECT_EQ(compare_images(100), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n3 bytes mismatched\n");

  testing::internal::CaptureStdout();
  EXPECT_EQ(compare_images(0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
