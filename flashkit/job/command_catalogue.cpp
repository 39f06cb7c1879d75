#include "flashkit/job/command_catalogue.h"

namespace flashkit::catalogue {

namespace {

VendorCommand Build(std::uint8_t operation, std::uint8_t subcode, std::uint8_t byte7,
                    std::uint8_t byte8, std::uint8_t byte9, std::uint8_t byte10,
                    std::uint8_t byte11) {
  VendorCommand command{};
  command[5] = operation;
  command[6] = subcode;
  command[7] = byte7;
  command[8] = byte8;
  command[9] = byte9;
  command[10] = byte10;
  command[11] = byte11;
  return command;
}

std::uint8_t High(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint8_t Low(std::uint16_t value) { return static_cast<std::uint8_t>(value); }

}  // namespace

VendorCommand LoadBootLoader(bool descriptorMode, std::uint16_t length) {
  return Build(kLoader, 0x01, descriptorMode ? 1 : 0, High(length), Low(length), 0, 0);
}

VendorCommand ContextSwitch(std::uint8_t subcode, std::uint8_t byte7, std::uint8_t byte8,
                            std::uint8_t byte9, std::uint8_t byte10, std::uint8_t byte11) {
  return Build(kContextSwitch, subcode, byte7, byte8, byte9, byte10, byte11);
}

VendorCommand ReadFlashIds(std::uint8_t bankCount) {
  return Build(kTransfer, kReadFlashIds, 0, 0, 0, bankCount, 0);
}

VendorCommand SetFlashType(std::uint8_t bankCount, std::uint8_t parameter) {
  return Build(kTransfer, kSetFlashType, 0, 0, 0, bankCount, parameter);
}

VendorCommand WriteChunk(std::uint8_t bank, std::uint8_t sequence, std::uint8_t parameter) {
  return Build(kTransfer, kWriteChunk, High(kChunkSize), Low(kChunkSize), bank, sequence,
               parameter);
}

VendorCommand CloseWrite(std::uint8_t bankCount, std::uint8_t sequence, std::uint8_t parameter) {
  return Build(kTransfer, kWriteChunk, 0, 0, bankCount, sequence, parameter);
}

VendorCommand WritePage(std::uint16_t loaderLength, std::uint8_t bankCount, std::uint8_t sequence) {
  return Build(kTransfer, kWriteChunk, High(loaderLength), Low(loaderLength), bankCount, sequence,
               0);
}

VendorCommand ReadBank(std::uint8_t bank) { return Build(kTransfer, kReadBank, 0, bank, 0, 0, 0); }

VendorCommand WriteDescriptor(std::uint8_t bankCount, std::uint8_t parameter) {
  return Build(kTransfer, kWriteDescriptor, 0, 0x2E, kDescriptorMarker, bankCount, parameter);
}

VendorCommand ReadDescriptorBank(std::uint8_t bankCount, std::uint8_t parameter) {
  return Build(kTransfer, kReadBank, 0, 0, kDescriptorMarker, bankCount, parameter);
}

}  // namespace flashkit::catalogue
