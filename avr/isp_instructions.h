// The AVR serial-programming instructions as the ATmega data sheets give them: the
// programmer frames them byte by byte, the simulated chip decodes them.
#pragma once
#include <array>
#include <cstdint>

// Each instruction is four bytes; a position holds a fixed byte, a byte of the
// operation's address or data argument, or the target's answer (shifted in with
// a transfer of 0).
enum class IspField : uint8_t { FIXED, ADDRESS_HIGH, ADDRESS_LOW, DATA, ANSWER };

struct IspInstruction {
  std::array<uint8_t, 4> code;  // the byte sent where the field is FIXED
  std::array<IspField, 4> field;
};

namespace isp_code {
using F = IspField;
constexpr IspInstruction PROGRAMMING_ENABLE{{0xAC, 0x53, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ANSWER, F::FIXED}};
constexpr IspInstruction CHIP_ERASE{{0xAC, 0x80, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::FIXED}};
constexpr IspInstruction POLL_READY{{0xF0, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction LOAD_EXTENDED_ADDRESS{{0x4D, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::DATA, F::FIXED}};
constexpr IspInstruction LOAD_PAGE_HIGH{{0x48, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction LOAD_PAGE_LOW{{0x40, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction WRITE_PAGE{{0x4C, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::FIXED}};
constexpr IspInstruction READ_FLASH_HIGH{{0x28, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_FLASH_LOW{{0x20, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_EEPROM{{0xA0, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction WRITE_EEPROM{{0xC0, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction LOAD_EEPROM_PAGE{{0xC1, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction WRITE_EEPROM_PAGE{{0xC2, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::FIXED}};
constexpr IspInstruction READ_LOCK{{0x58, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction WRITE_LOCK{{0xAC, 0xE0, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction READ_SIGNATURE{{0x30, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_FUSE_LOW{{0x50, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction READ_FUSE_HIGH{{0x58, 0x08, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction READ_FUSE_EXTENDED{{0x50, 0x08, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction WRITE_FUSE_LOW{{0xAC, 0xA0, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction WRITE_FUSE_HIGH{{0xAC, 0xA8, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction WRITE_FUSE_EXTENDED{{0xAC, 0xA4, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction READ_CALIBRATION{{0x38, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
}  // namespace isp_code

constexpr uint8_t BUSY_BIT = 0x01;  // poll answer bit 0: an operation is pending
