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

TEST(TrimmedLength, DropsTrailingFFButNeverLooksAtTheLastByte) {
  set_readback({0x12, 0x34, 0xFF, 0xFF, 0xFF, 0x56});
  EXPECT_EQ(trimmed_length(6), 2);
  set_readback({0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(trimmed_length(6), 6) << "a byte found only at index 0 keeps the whole length";
  set_readback({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x56});
  EXPECT_EQ(trimmed_length(6), 0);
  set_readback({0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(trimmed_length(4), 3);
}

TEST(TrimmedLength, ShortAndEmptyRangesStayInsideTheImage) {
  set_readback({0x12});
  EXPECT_EQ(trimmed_length(1), 0);
  EXPECT_EQ(trimmed_length(0), 0);
  EXPECT_EQ(trimmed_length(-5), 0);
  set_readback({0x12, 0x34});
  EXPECT_EQ(trimmed_length(2), 2);
}

TEST(TrimmedLength, AWholeErasedMemory) {
  fill_readback_image(0xFF);
  EXPECT_EQ(trimmed_length(2048), 0);
  readback_image[1000] = 0x00;
  EXPECT_EQ(trimmed_length(2048), 1001);
  readback_image[IMAGE_SIZE - 2] = 0x00;
  EXPECT_EQ(trimmed_length(IMAGE_SIZE), IMAGE_SIZE - 1);
  EXPECT_EQ(trimmed_length(IMAGE_SIZE + 100), IMAGE_SIZE - 1) << "lengths are kept to the image";
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
