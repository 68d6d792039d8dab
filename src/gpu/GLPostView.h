#pragma once

#include <memory>

#include "gpu/GLView.h"
#include "gpu/ShaderProgram.h"

namespace quorbit::gpu {

// Told which filter the user tapped in a preview.
class FilterSelectionDelegate {
  public:
    virtual ~FilterSelectionDelegate() = default;
    virtual void filterSelected(ShaderProgram* program) = 0;
};

// The GL surface of the live view and of each filter preview. In preview mode a tap
// reports the preview's own program to the delegate.
class GLPostView : public GLView {
  public:
    explicit GLPostView(platform::Rect frame = {});

    ShaderProgram* postShader() const { return _postShader.get(); }
    void setPostShader(std::shared_ptr<ShaderProgram> program) { _postShader = std::move(program); }
    FilterSelectionDelegate* delegate() const { return _delegate; }
    void setDelegate(FilterSelectionDelegate* delegate) { _delegate = delegate; }
    bool isPreviewWindow() const { return _isPreviewWindow; }
    void setIsPreviewWindow(bool preview) { _isPreviewWindow = preview; }

    void touchesEnded(const std::vector<platform::Touch>& touches) override;

  private:
    std::shared_ptr<ShaderProgram> _postShader;
    FilterSelectionDelegate* _delegate = nullptr;
    bool _isPreviewWindow = false;
};

}  // namespace quorbit::gpu
