#pragma once

#include "share/ChildScreen.h"

namespace quorbit::share {

// The settings screen: a title bar with a back control ("settings-back") over a note that
// there is nothing to set yet. The Facebook sign-in row comes with the Facebook sharing.
class SettingsView : public ChildScreen {
  public:
    SettingsView();

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;
};

}  // namespace quorbit::share
