#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "screens/share/PhotoLibrary.h"
#include "support/JpegFile.h"
#include "support/Scratch.h"

namespace quorbit::share {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::ImageOrientation;
using platform::RunLoop;

// Writes down what the writer tells the camera screen, and whether it was ready again by then.
struct Recorder : PhotoLibraryDelegate {
    explicit Recorder(PhotoLibrary*& library) : library(library) {}
    void photoFinishedSaving() override { calls.push_back(library->isReady() ? "saved" : "?"); }
    void photoFailedSaving(const platform::Error& error) override {
        calls.push_back(library->isReady() ? "failed" : "?");
        errors.push_back(error);
    }
    PhotoLibrary*& library;
    std::vector<std::string> calls;
    std::vector<platform::Error> errors;
};

platform::Image photo() {
    platform::Image image(320, 427);
    for (size_t i = 0; i < image.pixels().size(); ++i)
        image.pixels()[i] = std::uint8_t(i * 7);
    return image;
}

std::vector<fs::path> photosIn(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        found.push_back(e.path());
    return found;
}

class PhotoLibraryTest : public ::testing::Test {
  protected:
    void settle(Recorder& recorder, size_t calls) {
        RunLoop::main().runUntil([&] { return recorder.calls.size() >= calls; }, 20s);
        RunLoop::main().runFor(50ms);  // and nothing more arrives
    }
    testing::ScratchDir scratch{"quorbit-library"};
    fs::path dir = scratch.path();
};

TEST_F(PhotoLibraryTest, TakesOnePhotoAtATimeAndIsReadyAgainWhenItHasLanded) {
    auto library = PhotoLibrary::create(dir);
    PhotoLibrary* raw = library.get();
    Recorder recorder(raw);
    library->setBaseViewController(&recorder);
    EXPECT_TRUE(library->isReady());

    EXPECT_TRUE(library->savePhoto(photo(), ImageOrientation::Right));
    EXPECT_FALSE(library->isReady());
    EXPECT_FALSE(library->savePhoto(photo(), ImageOrientation::Up)) << "still writing";
    settle(recorder, 1);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"saved"});
    auto photos = photosIn(dir);
    ASSERT_EQ(photos.size(), 1u) << "the refused photo wrote nothing";
    auto facts = testing::inspectJpeg(photos[0]);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->orientation, 6) << "the orientation given is the one stored";

    EXPECT_TRUE(library->savePhoto(photo(), ImageOrientation::Up));
    settle(recorder, 2);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"saved", "saved"}));
    EXPECT_EQ(photosIn(dir).size(), 2u);
}

TEST_F(PhotoLibraryTest, AFailedWriteSaysWhyAndTheNextPhotoIsTaken) {
    std::ofstream(dir / "Flurio") << "a file where the album folder should be";
    auto library = PhotoLibrary::create(dir / "Flurio");
    PhotoLibrary* raw = library.get();
    Recorder recorder(raw);
    library->setBaseViewController(&recorder);

    ASSERT_TRUE(library->savePhoto(photo(), ImageOrientation::Up));
    settle(recorder, 1);
    ASSERT_EQ(recorder.calls, std::vector<std::string>{"failed"});
    EXPECT_EQ(recorder.errors[0].domain, platform::PhotoAlbum::kErrorDomain);
    EXPECT_EQ(recorder.errors[0].code, long(platform::PhotoAlbumError::FolderUnavailable));
    EXPECT_NE(recorder.errors[0].localizedDescription().find((dir / "Flurio").string()),
              std::string::npos);
    EXPECT_TRUE(library->isReady());

    fs::remove(dir / "Flurio");  // the user makes room for the album
    ASSERT_TRUE(library->savePhoto(photo(), ImageOrientation::Up));
    settle(recorder, 2);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"failed", "saved"}));
    EXPECT_EQ(photosIn(dir / "Flurio").size(), 1u);
}

TEST_F(PhotoLibraryTest, AWriterGoneBeforeTheAlbumAnswersStillSavesAndTellsNobody) {
    PhotoLibrary* raw = nullptr;
    Recorder recorder(raw);
    {
        auto library = PhotoLibrary::create(dir);
        raw = library.get();
        library->setBaseViewController(&recorder);
        ASSERT_TRUE(library->savePhoto(photo(), ImageOrientation::Up));
    }  // the camera screen lets go of its writer mid-write
    RunLoop::main().runFor(200ms);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(photosIn(dir).size(), 1u);
}

}  // namespace
}  // namespace quorbit::share
