// The exported bit operations over the simulated port, as the programs call them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "io.h"

namespace {

constexpr short DATA = 0x378, STATUS = 0x379;

class Exports : public testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("LPT1", "sim:board=stepper", 1); }
};

TEST_F(Exports, ABitChangeLeavesTheOtherSevenBits) {
  ASSERT_EQ(IsDriverInstalled(), 1);
  PortOut(DATA, static_cast<char>(0xA5));
  SetPortBit(DATA, 1);
  EXPECT_EQ(static_cast<unsigned char>(PortIn(DATA)), 0xA7);
  ClrPortBit(DATA, 0);
  EXPECT_EQ(static_cast<unsigned char>(PortIn(DATA)), 0xA6);
  NotPortBit(DATA, 7);
  EXPECT_EQ(static_cast<unsigned char>(PortIn(DATA)), 0x26);
  EXPECT_EQ(GetPortBit(DATA, 5), -1);
  EXPECT_EQ(GetPortBit(DATA, 6), 0);
}

TEST_F(Exports, AStatusBitHighAtTheRegisterReadsMinusOne) {
  // Every switch open: all five input pins high. Bit 7 reads inverted, so 0.
  EXPECT_EQ(GetPortBit(STATUS, 5), -1);
  EXPECT_EQ(GetPortBit(STATUS, 3), -1);
  EXPECT_EQ(GetPortBit(STATUS, 7), 0);
}

TEST_F(Exports, AddressesOutsideThePortAreIgnored) {
  PortOut(DATA, 0x11);
  SetPortBit(0x278, 0);
  PortOut(0x37B, 0x7F);
  EXPECT_EQ(static_cast<unsigned char>(PortIn(DATA)), 0x11);
  EXPECT_EQ(static_cast<unsigned char>(PortIn(0x3BC)), 0xFF);
  PortWordOut(DATA, 0x1234);  // low byte to data; the high byte to status, which takes no writes
  EXPECT_EQ(static_cast<unsigned char>(PortIn(DATA)), 0x34);
}

}  // namespace
