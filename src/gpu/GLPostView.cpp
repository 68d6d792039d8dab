#include "gpu/GLPostView.h"

namespace quorbit::gpu {

GLPostView::GLPostView(platform::Rect frame) : GLView(frame) {}

void GLPostView::touchesEnded(const std::vector<platform::Touch>& touches) {
    if (_isPreviewWindow && _delegate) _delegate->filterSelected(_postShader.get());
    GLView::touchesEnded(touches);
}

}  // namespace quorbit::gpu
