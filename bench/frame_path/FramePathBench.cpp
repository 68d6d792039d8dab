// The live frame (upload a 640 x 480 BGRA frame, draw it through a filter into the 320 x 427
// surface, present) and the picker frame (one upload, sixteen 144 x 192 previews), each
// finished with glFinish, beside a minimal loop that makes the same GL calls with nothing
// around them. The frames are a sideways sensor's (rotation 90), drawn as they are uploaded;
// the _Upright runs take an upright webcam frame (rotation 0), which is turned first.
#include <benchmark/benchmark.h>

#include "../BenchSupport.h"

#include <chrono>

#include "app/RenderCommands.h"
#include "capture/ImageDevice.h"
#include "codes/CodeScanner.h"
#include "gpu/FrameDrawing.h"
#include "platform/core/RunLoop.h"
#include "platform/gl/GLTextureTarget.h"
#include "screens/camera/quorbitViewController.h"
#include "screens/picker/PreviewGrid.h"

namespace {

using namespace quorbit;

struct FixedCamera : capture::CameraTypeSource {
    int curCameraType() const override { return capture::kCameraBack; }
};

using bench::context;

std::vector<std::uint8_t>& frameBytes() {
    static std::vector<std::uint8_t> bytes =
        capture::cameraFrameFromPicture(app::builtinTestFrame());
    return bytes;
}

GLuint rawUpload(GLint internalFormat) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, 640, 480, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE,
                 frameBytes().data());
    return texture;
}

void rawDraw(const platform::GLTextureTarget& target, GLuint program, GLuint texture, float r,
             float g, float b) {
    glUseProgram(program);
    GLint position = glGetAttribLocation(program, "position");
    GLint texCoord = glGetAttribLocation(program, "texCoord");
    GLint sampler = glGetUniformLocation(program, "s_texture");
    GLint scale = glGetUniformLocation(program, "u_scale");
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, 0, target.width(), target.height());
    glClearColor(r, g, b, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glVertexAttribPointer(GLuint(position), 2, GL_FLOAT, GL_FALSE, 0, gpu::kSquareVertices);
    glEnableVertexAttribArray(GLuint(position));
    glVertexAttribPointer(GLuint(texCoord), 2, GL_FLOAT, GL_FALSE, 0, gpu::kBackCameraTexCoords);
    glEnableVertexAttribArray(GLuint(texCoord));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(sampler, 0);
    glUniform2f(scale, 1.0f, GLfloat(target.height()) / GLfloat(target.width()));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// Frames drawn before timing starts, so that the driver's compiling of shader variants for
// new programs and surfaces is not counted.
constexpr int kWarmUpFrames = 5;

int liveSlot(const benchmark::State& state) {
    return int(state.range(0));
}

void liveFrame(benchmark::State& state, int rotation) {
    camera_screen::quorbitViewController screen(context(), std::make_shared<FixedCamera>());
    screen.setFilter(screen.programArray()[size_t(liveSlot(state))].get());
    capture::PixelBuffer frame(frameBytes().data(), 640, 480, rotation);
    for (int i = 0; i < kWarmUpFrames; ++i)
        screen.processNewCameraFrame(frame);
    glFinish();
    for (auto _ : state) {
        screen.processNewCameraFrame(frame);
        glFinish();
    }
    state.SetLabel(gpu::kFilterSlotNames[liveSlot(state)]);
}

void BM_LiveFrame_Quorbit(benchmark::State& state) {
    liveFrame(state, 90);
}

// The same frames while codes are read: each frame is offered to the code scanner as the
// camera screen offers it (an attempt five times a second at most, on its worker thread),
// and its outcomes come back through the main loop. attempts/s: attempts a second of wall time.
void BM_LiveFrame_QuorbitReadingCodes(benchmark::State& state) {
    camera_screen::quorbitViewController screen(context(), std::make_shared<FixedCamera>());
    screen.setFilter(screen.programArray()[size_t(liveSlot(state))].get());
    capture::PixelBuffer frame(frameBytes().data(), 640, 480, 90);
    frame.lockBaseAddress();
    codes::CodeScanner scanner(platform::RunLoop::main(), [](const auto&) {});
    for (int i = 0; i < kWarmUpFrames; ++i)
        screen.processNewCameraFrame(frame);
    glFinish();
    std::uint64_t before = scanner.attempts();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        scanner.offer(frame);
        screen.processNewCameraFrame(frame);
        glFinish();
        platform::RunLoop::main().runOnce(platform::RunLoop::Duration::zero());
    }
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    state.counters["attempts/s"] = double(scanner.attempts() - before) / wall.count();
    state.SetLabel(gpu::kFilterSlotNames[liveSlot(state)]);
}

void BM_LiveFrame_QuorbitUpright(benchmark::State& state) {
    liveFrame(state, 0);
}

void BM_LiveFrame_Minimal(benchmark::State& state) {
    auto ctx = context();
    auto programs = gpu::createFilterPrograms();
    GLuint program = programs[size_t(liveSlot(state))]->program();
    GLint internalFormat = ctx->bgraInternalFormat();
    platform::GLTextureTarget target(320, 427);
    for (int i = 0; i < kWarmUpFrames; ++i) {
        GLuint texture = rawUpload(internalFormat);
        rawDraw(target, program, texture, 1, 1, 0);
        glDeleteTextures(1, &texture);
    }
    glFinish();
    for (auto _ : state) {
        GLuint texture = rawUpload(internalFormat);
        rawDraw(target, program, texture, 1, 1, 0);
        glDeleteTextures(1, &texture);
        glFinish();
    }
    state.SetLabel(gpu::kFilterSlotNames[liveSlot(state)]);
}

void pickerFrame(benchmark::State& state, int rotation) {
    auto programs = gpu::createFilterPrograms();
    picker::PreviewGrid grid(context(), programs, nullptr);
    capture::PixelBuffer frame(frameBytes().data(), 640, 480, rotation);
    for (int i = 0; i < kWarmUpFrames; ++i)
        grid.drawFrame(frame, capture::kCameraBack);
    glFinish();
    for (auto _ : state) {
        grid.drawFrame(frame, capture::kCameraBack);
        glFinish();
    }
}

void BM_PickerFrame_Quorbit(benchmark::State& state) {
    pickerFrame(state, 90);
}

void BM_PickerFrame_QuorbitUpright(benchmark::State& state) {
    pickerFrame(state, 0);
}

void BM_PickerFrame_Minimal(benchmark::State& state) {
    auto ctx = context();
    auto programs = gpu::createFilterPrograms();
    GLint internalFormat = ctx->bgraInternalFormat();
    std::vector<std::unique_ptr<platform::GLTextureTarget>> targets;
    for (int i = 0; i < 16; ++i)
        targets.push_back(std::make_unique<platform::GLTextureTarget>(144, 192));
    auto drawFrame = [&] {
        GLuint texture = rawUpload(internalFormat);
        for (size_t k = 0; k < 16; ++k)
            rawDraw(*targets[k], programs[k]->program(), texture, 1, 0, 1);
        glDeleteTextures(1, &texture);
    };
    for (int i = 0; i < kWarmUpFrames; ++i)
        drawFrame();
    glFinish();
    for (auto _ : state) {
        drawFrame();
        glFinish();
    }
}

// Interleave ours and the minimal loop so that machine noise hits both alike.
BENCHMARK(BM_LiveFrame_Minimal)->Arg(0)->Arg(6)->Arg(14)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveFrame_Quorbit)->Arg(0)->Arg(6)->Arg(14)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveFrame_QuorbitReadingCodes)->Arg(0)->Arg(6)->Arg(14)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveFrame_QuorbitUpright)->Arg(0)->Arg(6)->Arg(14)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PickerFrame_Minimal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PickerFrame_Quorbit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PickerFrame_QuorbitUpright)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
