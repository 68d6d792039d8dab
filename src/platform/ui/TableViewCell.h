#pragma once

#include <memory>
#include <string>

#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

class ImageView;

// One row of a table. The default style holds one text label (and an optional image on the
// left); an accessory may sit at the right edge.
class TableViewCell : public View {
  public:
    enum class Style { Default };
    enum class Accessory { None, DisclosureIndicator, Checkmark };
    enum class SelectionStyle { None, Blue, Gray };

    explicit TableViewCell(Style style = Style::Default, std::string reuseIdentifier = {});
    ~TableViewCell() override;

    Style style() const { return _style; }
    const std::string& reuseIdentifier() const { return _reuseIdentifier; }
    Label* textLabel() const { return _textLabel.get(); }
    ImageView* imageView() const { return _imageView.get(); }
    // The view that holds the cell's content; add custom subviews here.
    View* contentView() const { return _contentView.get(); }

    Accessory accessoryType() const { return _accessoryType; }
    void setAccessoryType(Accessory accessory);
    SelectionStyle selectionStyle() const { return _selectionStyle; }
    void setSelectionStyle(SelectionStyle style);

    // Selected and highlighted cells paint the selection colour and show their text in white.
    // Animated changes fade the selection in or out.
    bool isSelected() const { return _selected; }
    void setSelected(bool selected, bool animated = false);
    bool isHighlighted() const { return _highlighted; }
    void setHighlighted(bool highlighted, bool animated = false);
    // How much of the selection colour shows, 0..1 (moves during a fade).
    double selectionAmount() const;
    // The view behind the content that shows the selection colour.
    View* selectedBackgroundView() const { return _selectedBackgroundView.get(); }

    // Called before a cell is handed out again by dequeueReusableCell.
    virtual void prepareForReuse();

    void layoutSubviews() override;
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

    // Grouped tables draw cells as parts of a rounded box; set by the table.
    enum class GroupPosition { None, Top, Middle, Bottom, Single };
    void setGroupPosition(GroupPosition position);

  private:
    void updateSelectionAppearance(bool animated);

    Style _style;
    std::string _reuseIdentifier;
    std::shared_ptr<View> _contentView;
    std::shared_ptr<Label> _textLabel;
    std::shared_ptr<ImageView> _imageView;
    std::shared_ptr<View> _selectedBackgroundView;
    std::shared_ptr<View> _accessoryView;
    Accessory _accessoryType = Accessory::None;
    SelectionStyle _selectionStyle = SelectionStyle::Blue;
    bool _selected = false;
    bool _highlighted = false;
    GroupPosition _groupPosition = GroupPosition::None;
};

}  // namespace quorbit::platform
