// The player's own small modal dialogs: a dialog is a caption, a client size and a list of items
// (labels, one-line edit fields, push buttons, check boxes, list boxes) laid out in pixels at 96 dpi.
// Everything a person does to a dialog arrives as a TDialogInput (keys, typed text, clicks, the
// window's close button), so a dialog's behaviour is a pure function of its inputs: tests drive it
// without a display, and the SDL window (DialogWindow.h) only translates events and shows the
// picture DialogPainter.h draws.
//
// Keyboard: Tab and Shift+Tab move the focus among the items that take it; Enter activates the
// focused button, or the default button when the focus is elsewhere; Space activates the focused
// button or toggles the focused check box; Escape and the close button give the command 2
// (cancel). Typing and Backspace edit the focused edit field; Up and Down move a list's selection.
// Main thread only.
#pragma once

#include "base/RefObject.h"

#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TDialog;
class TDialogCanvas;

// The commands of the usual buttons; a dialog that ends with one of them has it as its result.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

struct TDialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool Contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

enum class TDialogKey { None, Tab, ShiftTab, Enter, Escape, Space, Backspace, Up, Down };

struct TDialogInput {
    enum class TKind { Key, Text, Click, Close };
    TKind kind = TKind::Key;
    TDialogKey key = TDialogKey::None;
    std::string text; // UTF-8 typed text (Text)
    int x = 0;        // client position in 96-dpi pixels (Click)
    int y = 0;

    static TDialogInput Press(TDialogKey key) { return {TKind::Key, key, {}, 0, 0}; }
    static TDialogInput Type(std::string text) {
        return {TKind::Text, TDialogKey::None, std::move(text), 0, 0};
    }
    static TDialogInput ClickAt(int x, int y) { return {TKind::Click, TDialogKey::None, {}, x, y}; }
    static TDialogInput CloseButton() { return {TKind::Close, TDialogKey::None, {}, 0, 0}; }
};

// One item at a place of the dialog (96-dpi pixels).
class TDialogItem : public TRefObject {
public:
    explicit TDialogItem(TDialogRect bounds) : bounds_(bounds) {}

    const TDialogRect& Bounds() const { return bounds_; }
    virtual bool TakesFocus() const { return false; }
    // Draws the item; `focused` when it holds the dialog's focus.
    virtual void Paint(TDialogCanvas& canvas, bool focused) const = 0;
    // A key while the item has the focus; true when the item used it.
    virtual bool Key(TDialog& /*dialog*/, TDialogKey /*key*/) { return false; }
    virtual void Text(const std::string& /*text*/) {}
    // A click inside the item (client position).
    virtual void Click(TDialog& /*dialog*/, int /*x*/, int /*y*/) {}

protected:
    ~TDialogItem() override = default;

private:
    TDialogRect bounds_;
};

// A text label, drawn from its top-left corner; "\r" or "\n" break lines.
class TDialogStatic : public TDialogItem {
public:
    TDialogStatic(TDialogRect bounds, std::string text) : TDialogItem(bounds), text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    void Paint(TDialogCanvas& canvas, bool focused) const override;

private:
    std::string text_;
};

// A one-line edit field. In password style it shows one bullet per character. The text is kept
// whole however long it grows; only the end that fits is drawn.
class TDialogEdit : public TDialogItem {
public:
    TDialogEdit(TDialogRect bounds, bool password, std::string text = {})
        : TDialogItem(bounds), password_(password), text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }
    bool Password() const { return password_; }
    bool TakesFocus() const override { return true; }
    void Paint(TDialogCanvas& canvas, bool focused) const override;
    // Backspace removes the last character (a whole UTF-8 sequence).
    bool Key(TDialog& dialog, TDialogKey key) override;
    // Appends the text; control characters are dropped.
    void Text(const std::string& text) override;

private:
    bool password_;
    std::string text_;
};

// A push button: activating it gives its command to the dialog.
class TDialogButton : public TDialogItem {
public:
    TDialogButton(TDialogRect bounds, std::string text, int command, bool isDefault = false)
        : TDialogItem(bounds), text_(std::move(text)), command_(command), default_(isDefault) {}
    const std::string& Text() const { return text_; }
    int Command() const { return command_; }
    bool IsDefault() const { return default_; }
    bool TakesFocus() const override { return true; }
    void Paint(TDialogCanvas& canvas, bool focused) const override;
    bool Key(TDialog& dialog, TDialogKey key) override;
    void Click(TDialog& dialog, int x, int y) override;

private:
    std::string text_;
    int command_;
    bool default_;
};

class TDialogCheckBox : public TDialogItem {
public:
    TDialogCheckBox(TDialogRect bounds, std::string text, bool checked = false)
        : TDialogItem(bounds), text_(std::move(text)), checked_(checked) {}
    const std::string& Text() const { return text_; }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked) { checked_ = checked; }
    bool TakesFocus() const override { return true; }
    void Paint(TDialogCanvas& canvas, bool focused) const override;
    bool Key(TDialog& dialog, TDialogKey key) override;
    void Click(TDialog& dialog, int x, int y) override;

private:
    std::string text_;
    bool checked_;
};

// A list of lines, one of them selected (-1: none); rows are kRowHeight pixels high. Lines that
// do not fit are reached by moving the selection, which scrolls the list.
class TDialogListBox : public TDialogItem {
public:
    static constexpr int kRowHeight = 16;
    TDialogListBox(TDialogRect bounds, std::vector<std::string> lines, int selected = 0);
    const std::vector<std::string>& Lines() const { return lines_; }
    int Selected() const { return selected_; }
    bool TakesFocus() const override { return true; }
    void Paint(TDialogCanvas& canvas, bool focused) const override;
    bool Key(TDialog& dialog, TDialogKey key) override;
    void Click(TDialog& dialog, int x, int y) override;

private:
    void Select(int index);
    int VisibleRows() const;

    std::vector<std::string> lines_;
    int selected_;
    int top_ = 0;
};

class TDialog : public TRefObject {
public:
    // `width` × `height` is the client area in 96-dpi pixels.
    TDialog(std::string caption, int width, int height);

    const std::string& Caption() const { return caption_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::vector<TRef<TDialogItem>>& Items() const { return items_; }

    // Adds an item; the first item that takes the focus gets it. Returns the item.
    template <class T> T& Add(TRef<T> item) {
        T& added = *item;
        AddItem(std::move(item));
        return added;
    }

    // What a button's command does: by default the dialog ends with the command as its result.
    // A handler replaces that (and may call End itself).
    std::function<void(int command)> OnCommand;
    void Command(int command);

    // Handles one input. Inputs after the dialog ended are ignored.
    void Handle(const TDialogInput& input);

    void End(int result);
    bool Ended() const { return ended_; }
    // The result it ended with; 0 while it runs.
    int Result() const { return result_; }

    int Focus() const { return focus_; }
    const TDialogItem* FocusedItem() const;
    void SetFocus(const TDialogItem* item);
    // Counts changes of what is shown (for redrawing).
    unsigned Revision() const { return revision_; }
    void Changed() { ++revision_; }

protected:
    ~TDialog() override = default;

private:
    void AddItem(TRef<TDialogItem> item);
    void MoveFocus(int step);
    TDialogButton* DefaultButton() const;

    std::string caption_;
    int width_;
    int height_;
    std::vector<TRef<TDialogItem>> items_;
    int focus_ = -1;
    bool ended_ = false;
    int result_ = 0;
    unsigned revision_ = 0;
};

// Runs dialogs modally: returns when the dialog ended, with its result. Implemented by the SDL
// window (DialogWindow.h) and by tests that play inputs.
class TDialogRunner {
public:
    virtual ~TDialogRunner() = default;
    virtual int RunModal(TDialog& dialog) = 0;
    // A message with an OK button (the player's error box by default).
    virtual void Message(const std::string& text) = 0;
};

} // namespace kiv
