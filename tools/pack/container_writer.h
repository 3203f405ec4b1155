// Assembly of a program file with the firmware container appended: the updater's
// bytes, the 20-byte header, the loader and the scrambled image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "image/container.h"

namespace quorsel::pack {

// Offset of the first container signature in bytes, or nullopt.
std::optional<size_t> FindSignature(const std::vector<uint8_t>& bytes);

// Writes the container header: signature, loader length, image length and the byte
// sum over loader and stored image.
std::array<uint8_t, CONTAINER_HEADER_SIZE> BuildContainerHeader(const std::vector<uint8_t>& loader,
                                                                 const std::vector<uint8_t>& storedImage);

// nullopt when size is a valid image size (exactly 2 MiB or 4 MiB), else the reason.
std::optional<std::string> CheckImageSize(uint64_t size);

// A note for the firmware build when the model's flash layout does not cover the
// image exactly (the updater accepts such an image); nullopt when it does.
std::optional<std::string> LayoutMismatch(const std::vector<uint8_t>& plainImage);

// Checks the inputs (image size, model code in the trailer, no signature in the
// updater, the result below 4 GiB), scrambles the image and returns the whole file.
Result<std::vector<uint8_t>, std::string> PackContainer(const std::vector<uint8_t>& updater,
                                                         const std::vector<uint8_t>& loader,
                                                         const std::vector<uint8_t>& plainImage);

}  // namespace quorsel::pack
