#include "viewer/dialogs/Dialog.h"

#include <algorithm>

namespace kiv {

// ---- items

bool TDialogEdit::Key(TDialog& dialog, TDialogKey key) {
    if (key != TDialogKey::Backspace) return false;
    if (text_.empty()) return true;
    std::size_t end = text_.size() - 1;
    // Back over continuation bytes to the start of the last character.
    while (end > 0 && (static_cast<unsigned char>(text_[end]) & 0xC0) == 0x80)
        --end;
    text_.erase(end);
    dialog.Changed();
    return true;
}

void TDialogEdit::Text(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) text_ += c;
}

bool TDialogButton::Key(TDialog& dialog, TDialogKey key) {
    if (key != TDialogKey::Space && key != TDialogKey::Enter) return false;
    dialog.Command(command_);
    return true;
}

void TDialogButton::Click(TDialog& dialog, int, int) {
    dialog.Command(command_);
}

bool TDialogCheckBox::Key(TDialog& dialog, TDialogKey key) {
    if (key != TDialogKey::Space) return false;
    checked_ = !checked_;
    dialog.Changed();
    return true;
}

void TDialogCheckBox::Click(TDialog& dialog, int, int) {
    checked_ = !checked_;
    dialog.Changed();
}

TDialogListBox::TDialogListBox(TDialogRect bounds, std::vector<std::string> lines, int selected)
    : TDialogItem(bounds), lines_(std::move(lines)), selected_(-1) {
    Select(selected);
}

int TDialogListBox::VisibleRows() const {
    return std::max(1, (Bounds().height - 4) / kRowHeight);
}

void TDialogListBox::Select(int index) {
    if (lines_.empty()) {
        selected_ = -1;
        return;
    }
    selected_ = std::clamp(index, 0, static_cast<int>(lines_.size()) - 1);
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + VisibleRows()) top_ = selected_ - VisibleRows() + 1;
}

bool TDialogListBox::Key(TDialog& dialog, TDialogKey key) {
    if (key != TDialogKey::Up && key != TDialogKey::Down) return false;
    Select(selected_ + (key == TDialogKey::Up ? -1 : 1));
    dialog.Changed();
    return true;
}

void TDialogListBox::Click(TDialog& dialog, int, int y) {
    const int row = (y - Bounds().y - 2) / kRowHeight;
    if (row >= 0 && top_ + row < static_cast<int>(lines_.size())) Select(top_ + row);
    dialog.Changed();
}

// ---- the dialog

TDialog::TDialog(std::string caption, int width, int height)
    : caption_(std::move(caption)), width_(width), height_(height) {}

void TDialog::AddItem(TRef<TDialogItem> item) {
    items_.push_back(std::move(item));
    if (focus_ < 0 && items_.back()->TakesFocus()) focus_ = static_cast<int>(items_.size()) - 1;
    Changed();
}

const TDialogItem* TDialog::FocusedItem() const {
    return focus_ >= 0 ? items_[static_cast<std::size_t>(focus_)].Get() : nullptr;
}

void TDialog::SetFocus(const TDialogItem* item) {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Get() == item && item->TakesFocus()) {
            focus_ = static_cast<int>(i);
            Changed();
        }
}

void TDialog::MoveFocus(int step) {
    const int count = static_cast<int>(items_.size());
    if (count == 0 || focus_ < 0) return;
    for (int i = 1; i <= count; ++i) {
        const int next = ((focus_ + step * i) % count + count) % count;
        if (items_[static_cast<std::size_t>(next)]->TakesFocus()) {
            focus_ = next;
            break;
        }
    }
    Changed();
}

TDialogButton* TDialog::DefaultButton() const {
    for (const TRef<TDialogItem>& item : items_)
        if (auto* button = dynamic_cast<TDialogButton*>(item.Get()); button && button->IsDefault())
            return button;
    return nullptr;
}

void TDialog::Command(int command) {
    if (ended_) return;
    if (OnCommand)
        OnCommand(command);
    else
        End(command);
    Changed();
}

void TDialog::End(int result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
    Changed();
}

void TDialog::Handle(const TDialogInput& input) {
    if (ended_) return;
    TDialogItem* focused = focus_ >= 0 ? items_[static_cast<std::size_t>(focus_)].Get() : nullptr;
    switch (input.kind) {
    case TDialogInput::TKind::Close:
        Command(kDialogCancel);
        return;
    case TDialogInput::TKind::Text:
        if (focused) {
            focused->Text(input.text);
            Changed();
        }
        return;
    case TDialogInput::TKind::Click:
        // The last item added lies on top.
        for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
            TDialogItem& item = **it;
            if (!item.Bounds().Contains(input.x, input.y)) continue;
            if (item.TakesFocus()) SetFocus(&item);
            item.Click(*this, input.x, input.y);
            return;
        }
        return;
    case TDialogInput::TKind::Key:
        break;
    }
    switch (input.key) {
    case TDialogKey::Tab:
        MoveFocus(1);
        return;
    case TDialogKey::ShiftTab:
        MoveFocus(-1);
        return;
    case TDialogKey::Escape:
        Command(kDialogCancel);
        return;
    case TDialogKey::Enter:
        // A focused button takes Enter itself; anywhere else it is the default button's.
        if (dynamic_cast<TDialogButton*>(focused)) break;
        if (TDialogButton* button = DefaultButton()) Command(button->Command());
        return;
    default:
        break;
    }
    if (focused) focused->Key(*this, input.key);
}

} // namespace kiv
