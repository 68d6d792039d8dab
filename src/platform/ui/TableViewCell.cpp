#include "platform/ui/TableViewCell.h"

#include <cmath>

#include "platform/ui/Animation.h"
#include "platform/ui/ImageView.h"

namespace quorbit::platform {

namespace {

constexpr double kAccessoryWidth = 30;
constexpr double kSelectionFade = 0.3;
const Color kBlueSelection{0.016, 0.455, 0.929, 1};
const Color kGraySelection{0.72, 0.72, 0.72, 1};
const Color kSeparator{0.88, 0.88, 0.88, 1};
const Color kGroupBorder{0.67, 0.67, 0.67, 1};

// The chevron or check mark at the right edge of a cell.
class AccessoryView : public View {
  public:
    AccessoryView() {
        setOpaque(false);
        setUserInteractionEnabled(false);
    }
    void configure(TableViewCell::Accessory kind, bool highlighted) {
        if (kind == _kind && highlighted == _highlighted) return;
        _kind = kind;
        _highlighted = highlighted;
        setNeedsDisplay();
    }
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override {
        Rect b = bounds();
        Color color = _highlighted ? Color::white() : Color{0.5, 0.5, 0.5, 1};
        canvas.setLineWidth(3);
        canvas.beginPath();
        if (_kind == TableViewCell::Accessory::DisclosureIndicator) {
            canvas.moveTo({b.midX() - 3, b.midY() - 5});
            canvas.lineTo({b.midX() + 2, b.midY()});
            canvas.lineTo({b.midX() - 3, b.midY() + 5});
            canvas.stroke(_highlighted ? color : Color{0.5, 0.5, 0.5, 1});
        } else if (_kind == TableViewCell::Accessory::Checkmark) {
            canvas.moveTo({b.midX() - 6, b.midY()});
            canvas.lineTo({b.midX() - 2, b.midY() + 5});
            canvas.lineTo({b.midX() + 6, b.midY() - 6});
            canvas.stroke(_highlighted ? color : Color{0.2, 0.3, 0.5, 1});
        }
    }

  private:
    TableViewCell::Accessory _kind = TableViewCell::Accessory::None;
    bool _highlighted = false;
};

}  // namespace

TableViewCell::TableViewCell(Style style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, 44)), _style(style), _reuseIdentifier(std::move(reuseIdentifier)) {
    setBackgroundColor(Color::white());
    _selectedBackgroundView = std::make_shared<View>(bounds());
    _selectedBackgroundView->setBackgroundColor(kBlueSelection);
    _selectedBackgroundView->setAlpha(0);
    _selectedBackgroundView->setUserInteractionEnabled(false);
    addSubview(_selectedBackgroundView);
    _contentView = std::make_shared<View>(bounds());
    _contentView->setOpaque(false);
    addSubview(_contentView);
    _imageView = std::make_shared<ImageView>(Rect{});
    _contentView->addSubview(_imageView);
    _textLabel = std::make_shared<Label>(Rect{});
    _textLabel->setFont(Font::boldSystem(20));
    // Longer texts (other languages, a size in the text) shrink before they are cut.
    _textLabel->setMinimumScaleFactor(0.6);
    _contentView->addSubview(_textLabel);
    _accessoryView = std::make_shared<AccessoryView>();
    addSubview(_accessoryView);
}

TableViewCell::~TableViewCell() = default;

void TableViewCell::setAccessoryType(Accessory accessory) {
    _accessoryType = accessory;
    setNeedsLayout();
    updateSelectionAppearance(false);
}

void TableViewCell::setSelectionStyle(SelectionStyle style) {
    _selectionStyle = style;
    _selectedBackgroundView->setBackgroundColor(style == SelectionStyle::Gray ? kGraySelection
                                                                              : kBlueSelection);
    updateSelectionAppearance(false);
}

void TableViewCell::setSelected(bool selected, bool animated) {
    if (selected == _selected) return;
    _selected = selected;
    updateSelectionAppearance(animated);
}

void TableViewCell::setHighlighted(bool highlighted, bool animated) {
    if (highlighted == _highlighted) return;
    _highlighted = highlighted;
    updateSelectionAppearance(animated);
}

double TableViewCell::selectionAmount() const {
    return _selectedBackgroundView->alpha();
}

void TableViewCell::updateSelectionAppearance(bool animated) {
    bool lit = (_selected || _highlighted) && _selectionStyle != SelectionStyle::None;
    double target = lit ? 1 : 0;
    auto background = _selectedBackgroundView;
    auto label = _textLabel;
    static_cast<AccessoryView*>(_accessoryView.get())->configure(_accessoryType, lit);
    if (lit) label->setHighlighted(true);
    if (animated) {
        // Text turns back to its colour once the fade has ended (unless lit again).
        std::weak_ptr<TableViewCell> weak =
            std::static_pointer_cast<TableViewCell>(weak_from_this().lock());
        Animation::animate(
            kSelectionFade, [&] { background->setAlpha(target); },
            [weak](bool) {
                if (auto cell = weak.lock()) {
                    bool lit = (cell->_selected || cell->_highlighted) &&
                               cell->_selectionStyle != SelectionStyle::None;
                    cell->_textLabel->setHighlighted(lit);
                }
            });
    } else {
        Animation::finishAll(background.get());
        background->setAlpha(target);
        label->setHighlighted(lit);
    }
}

void TableViewCell::prepareForReuse() {
    Animation::finishAll(_selectedBackgroundView.get());
    _selected = _highlighted = false;
    updateSelectionAppearance(false);
}

void TableViewCell::setGroupPosition(GroupPosition position) {
    if (position == _groupPosition) return;
    _groupPosition = position;
    setBackgroundColor(position == GroupPosition::None ? std::optional<Color>(Color::white())
                                                       : std::nullopt);
    setOpaque(position == GroupPosition::None);
    setNeedsDisplay();
}

void TableViewCell::layoutSubviews() {
    Rect b = bounds();
    bool accessory = _accessoryType != Accessory::None;
    double contentWidth = b.width() - (accessory ? kAccessoryWidth : 0);
    _selectedBackgroundView->setFrame(b);
    _contentView->setFrame(Rect(0, 0, contentWidth, b.height()));
    _accessoryView->setFrame(
        Rect(contentWidth, 0, accessory ? kAccessoryWidth - 5 : 0, b.height()));
    _accessoryView->setHidden(!accessory);
    double x = 10;
    if (auto image = _imageView->image()) {
        double h = std::min<double>(image->height(), b.height());
        double w = image->height() > 0 ? image->width() * h / image->height() : 0;
        _imageView->setFrame(Rect(x, std::floor((b.height() - h) / 2), w, h));
        x += w + 10;
    } else {
        _imageView->setFrame(Rect{});
    }
    _textLabel->setFrame(Rect(x, 0, std::max(0.0, contentWidth - x - 10), b.height()));
}

void TableViewCell::draw(Canvas& canvas) {
    Rect b = bounds();
    if (_groupPosition == GroupPosition::None) {
        // A hairline between rows.
        canvas.fillRect(Rect(0, b.height() - 1, b.width(), 1), kSeparator);
        return;
    }
    // A piece of a rounded box: corners at the ends of the section.
    double r = 8;
    bool roundTop = _groupPosition == GroupPosition::Top || _groupPosition == GroupPosition::Single;
    bool roundBottom =
        _groupPosition == GroupPosition::Bottom || _groupPosition == GroupPosition::Single;
    Rect box = b.insetBy(0.5, 0.5);
    canvas.beginPath();
    canvas.moveTo({box.minX(), box.minY() + (roundTop ? r : 0)});
    if (roundTop) {
        canvas.arc({box.minX() + r, box.minY() + r}, r, M_PI, 1.5 * M_PI);
        canvas.arc({box.maxX() - r, box.minY() + r}, r, 1.5 * M_PI, 2 * M_PI);
    } else {
        canvas.lineTo({box.maxX(), box.minY()});
    }
    if (roundBottom) {
        canvas.arc({box.maxX() - r, box.maxY() - r}, r, 0, 0.5 * M_PI);
        canvas.arc({box.minX() + r, box.maxY() - r}, r, 0.5 * M_PI, M_PI);
    } else {
        canvas.lineTo({box.maxX(), box.maxY()});
        canvas.lineTo({box.minX(), box.maxY()});
    }
    canvas.closePath();
    canvas.fill(Color::white(), true);
    canvas.setLineWidth(1);
    canvas.stroke(kGroupBorder);
}

}  // namespace quorbit::platform
