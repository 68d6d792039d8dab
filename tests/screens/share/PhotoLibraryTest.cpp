#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/core/RunLoop.h"
#include "screens/share/PhotoLibrary.h"
#include "support/Scratch.h"

// Taking a photo, refusing one while busy and failing are the camera screen's tests, through
// this writer.
namespace quorbit::share {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Recorder : PhotoLibraryDelegate {
    int calls = 0;
    void photoFinishedSaving() override { ++calls; }
    void photoFailedSaving(const platform::Error&) override { ++calls; }
};

TEST(PhotoLibrary, AWriterGoneBeforeTheAlbumAnswersStillSavesAndTellsNobody) {
    testing::ScratchDir scratch("quorbit-library");
    Recorder recorder;
    {
        auto library = PhotoLibrary::create(scratch.path());
        library->setBaseViewController(&recorder);
        ASSERT_TRUE(library->savePhoto(platform::Image(320, 427), platform::ImageOrientation::Up));
    }  // the camera screen lets go of its writer mid-write
    platform::RunLoop::main().runFor(200ms);
    EXPECT_EQ(recorder.calls, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace quorbit::share
