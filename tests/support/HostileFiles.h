#pragma once

#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "platform/gfx/Image.h"

namespace quorbit::testing {

// Opens the writing end of a FIFO after a while unless destroyed first: code stuck opening
// or reading the FIFO is set free, so that a test fails instead of hanging.
class FifoRelease {
  public:
    explicit FifoRelease(std::filesystem::path fifo);
    ~FifoRelease();

  private:
    std::promise<void> _done;
    std::thread _thread;
};

// Small generators of pictures a hostile user might hand the application. Each makes the
// bytes in memory, so that no binary sample has to be kept in the repository.

// A picture of four coloured quadrants.
platform::Image quadrantPicture(int width, int height);

enum class JpegKind { Baseline, Progressive444, Cmyk, Ycck };
// Encodes with libjpeg. The CMYK kinds take RGB and store the inks inverted, as Adobe
// software does (and marks with its APP14 segment), with part of the darkness in K.
std::string encodeJpeg(const platform::Image& picture, JpegKind kind, int quality = 90);

// A PNG whose header claims width x height, with a few bytes of compressed data.
std::string pngClaiming(std::uint32_t width, std::uint32_t height);

// The JPEG with the frame header's size replaced.
std::string withClaimedSize(std::string jpeg, int width, int height);
// The headers and the first scan header, then the end-of-image marker: no scan data.
std::string withoutScanData(const std::string& jpeg);
// A restart marker in the middle of the scan data of a file that declares no restarts.
std::string withStrayMarker(std::string jpeg);

}  // namespace quorbit::testing
