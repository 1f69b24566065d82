// A dialog runner for tests: each dialog that runs gets the next script, which plays inputs into
// it; every caption and message is recorded. A dialog its script leaves running, or one without a
// script, is a test failure (and ends cancelled).
#pragma once

#include "viewer/dialogs/Dialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kiv::testing {

class TScriptedRunner : public TDialogRunner {
public:
    using TScript = std::function<void(TDialog&)>;

    std::deque<TScript> scripts;
    std::vector<std::string> captions;
    std::vector<std::string> messages;

    int RunModal(TDialog& dialog) override {
        captions.push_back(dialog.Caption());
        if (scripts.empty()) {
            ADD_FAILURE() << "no script for the dialog " << dialog.Caption();
        } else {
            TScript script = std::move(scripts.front());
            scripts.pop_front();
            script(dialog);
        }
        if (!dialog.Ended()) {
            ADD_FAILURE() << "the dialog " << dialog.Caption() << " was left running";
            dialog.End(kDialogCancel);
        }
        return dialog.Result();
    }
    void Message(const std::string& text) override { messages.push_back(text); }
};

// The item showing `text` (a button, check box or label); fails the test when there is none.
template <class T = TDialogItem> T* ItemWithText(TDialog& dialog, const std::string& text) {
    for (const TRef<TDialogItem>& item : dialog.Items()) {
        T* typed = dynamic_cast<T*>(item.Get());
        if (!typed) continue;
        if (auto* button = dynamic_cast<TDialogButton*>(item.Get()); button && button->Text() == text)
            return typed;
        if (auto* box = dynamic_cast<TDialogCheckBox*>(item.Get()); box && box->Text() == text) return typed;
        if (auto* label = dynamic_cast<TDialogStatic*>(item.Get()); label && label->Text() == text)
            return typed;
    }
    ADD_FAILURE() << "no item \"" << text << "\" in " << dialog.Caption();
    return nullptr;
}

// Clicks the middle of the item showing `text`.
inline void ClickOn(TDialog& dialog, const std::string& text) {
    if (const TDialogItem* item = ItemWithText(dialog, text)) {
        const TDialogRect& r = item->Bounds();
        dialog.Handle(TDialogInput::ClickAt(r.x + r.width / 2, r.y + r.height / 2));
    }
}

inline TDialogEdit* FirstEdit(TDialog& dialog) {
    for (const TRef<TDialogItem>& item : dialog.Items())
        if (auto* edit = dynamic_cast<TDialogEdit*>(item.Get())) return edit;
    return nullptr;
}

// A script that replaces the first edit field's text and presses Enter.
inline std::function<void(TDialog&)> TypeAndEnter(std::string text) {
    return [text = std::move(text)](TDialog& dialog) {
        if (TDialogEdit* edit = FirstEdit(dialog)) edit->SetText({});
        dialog.Handle(TDialogInput::Type(text));
        dialog.Handle(TDialogInput::Press(TDialogKey::Enter));
    };
}

inline std::function<void(TDialog&)> Press(TDialogKey key) {
    return [key](TDialog& dialog) { dialog.Handle(TDialogInput::Press(key)); };
}

} // namespace kiv::testing
