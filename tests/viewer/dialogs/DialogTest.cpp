#include "viewer/dialogs/ChoiceDialogs.h"
#include "viewer/dialogs/DialogPainter.h"
#include "viewer/dialogs/PasswordDialog.h"
#include "viewer/dialogs/PrintDialog.h"

#include "images/PngWriter.h"
#include "ini/IniFile.h"
#include "viewer/dialogs/ScriptedRunner.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using testing::ClickOn;
using testing::ItemWithText;

TRef<TIniFile> Project(const std::string& main) {
    auto project = MakeRef<TIniFile>();
    project->LoadFromText("[Main]\r\n" + main);
    return project;
}

TEST(Dialog, KeysMoveTheFocusEditTheFieldAndEndWithTheRightResult) {
    TRef<TIniFile> project = Project("");
    auto dialog = MakeRef<TKivPasswordDialog>(*project);
    EXPECT_EQ(dialog->FocusedItem(), &dialog->Edit()) << "the edit field takes the focus first";

    // Typing, with a character of two bytes, and Backspace removing it whole.
    dialog->Handle(TDialogInput::Type("p\xC3\xA4"));
    dialog->Handle(TDialogInput::Type("\t\x7F"
                                      "w"));
    EXPECT_EQ(dialog->Edit().Text(), "p\xC3\xA4w") << "control characters are dropped";
    dialog->Handle(TDialogInput::Press(TDialogKey::Backspace));
    dialog->Handle(TDialogInput::Press(TDialogKey::Backspace));
    EXPECT_EQ(dialog->Edit().Text(), "p");
    dialog->Handle(TDialogInput::Press(TDialogKey::Space));
    EXPECT_FALSE(dialog->Ended()) << "Space in the edit field activates nothing";

    // Tab runs through OK and Cancel and back to the field; Shift+Tab goes the other way.
    dialog->Handle(TDialogInput::Press(TDialogKey::Tab));
    EXPECT_EQ(dialog->FocusedItem(), ItemWithText(*dialog, "OK"));
    dialog->Handle(TDialogInput::Press(TDialogKey::Tab));
    dialog->Handle(TDialogInput::Press(TDialogKey::Tab));
    EXPECT_EQ(dialog->FocusedItem(), &dialog->Edit());
    dialog->Handle(TDialogInput::Press(TDialogKey::ShiftTab));
    EXPECT_EQ(dialog->FocusedItem(), ItemWithText(*dialog, "Cancel"));

    // Enter on the focused Cancel button is Cancel's, not the default button's.
    dialog->Handle(TDialogInput::Press(TDialogKey::Enter));
    EXPECT_EQ(dialog->Result(), kDialogCancel);
    dialog->Handle(TDialogInput::Press(TDialogKey::Tab));
    dialog->Handle(TDialogInput::Type("x"));
    EXPECT_EQ(dialog->Edit().Text(), "p") << "an ended dialog takes no input";

    // Enter in the field is the default button's; Escape and the close button cancel; a click
    // between the buttons does nothing, one on a button ends with its command.
    const struct {
        std::vector<TDialogInput> inputs;
        int result;
    } cases[] = {
        {{TDialogInput::Press(TDialogKey::Enter)}, kDialogOk},
        {{TDialogInput::Press(TDialogKey::Escape)}, kDialogCancel},
        {{TDialogInput::CloseButton()}, kDialogCancel},
        {{TDialogInput::ClickAt(130, 70), TDialogInput::ClickAt(53, 62)}, kDialogOk},
        {{TDialogInput::ClickAt(207, 86)}, kDialogCancel},
        {{TDialogInput::ClickAt(208, 87), TDialogInput::ClickAt(259, 97)}, 0},
    };
    for (const auto& c : cases) {
        auto fresh = MakeRef<TKivPasswordDialog>(*project);
        for (const TDialogInput& input : c.inputs)
            fresh->Handle(input);
        EXPECT_EQ(fresh->Result(), c.result) << "case " << (&c - cases);
    }
}

TEST(Dialog, CheckBoxAndListTakeSpaceClicksAndArrows) {
    auto dialog = MakeRef<TDialog>("Choice", 200, 200);
    TDialogCheckBox& box = dialog->Add(MakeRef<TDialogCheckBox>(TDialogRect{10, 10, 120, 20}, "Box"));
    TDialogListBox& list =
        dialog->Add(MakeRef<TDialogListBox>(TDialogRect{10, 40, 150, 4 + 2 * TDialogListBox::kRowHeight},
                                            std::vector<std::string>{"a", "b", "c"}, 7));
    EXPECT_EQ(list.Selected(), 2) << "a selection beyond the list is its last line";
    dialog->Handle(TDialogInput::Press(TDialogKey::Space));
    EXPECT_TRUE(box.Checked());
    dialog->Handle(TDialogInput::ClickAt(15, 15));
    EXPECT_FALSE(box.Checked());
    // A click on the list's first visible row (it scrolled to show "c") selects "b" and focuses it.
    dialog->Handle(TDialogInput::ClickAt(20, 43));
    EXPECT_EQ(list.Selected(), 1);
    EXPECT_EQ(dialog->FocusedItem(), &list);
    for (int i = 0; i < 4; ++i)
        dialog->Handle(TDialogInput::Press(TDialogKey::Up));
    EXPECT_EQ(list.Selected(), 0);
    dialog->Handle(TDialogInput::Press(TDialogKey::Down));
    EXPECT_EQ(list.Selected(), 1);
    EXPECT_FALSE(dialog->Ended()) << "without a default button Enter does nothing";
    dialog->Handle(TDialogInput::Press(TDialogKey::Enter));
    EXPECT_FALSE(dialog->Ended());
}

TEST(Dialog, TextsComeFromTheProjectAndSaveNeedsCanRestore) {
    TRef<TIniFile> plain = Project("");
    auto password = MakeRef<TKivPasswordDialog>(*plain);
    EXPECT_EQ(password->Caption(), "Password required");
    EXPECT_EQ(password->Width(), 260);
    EXPECT_EQ(password->Height(), 98);
    ItemWithText<TDialogStatic>(*password, "Enter password:");
    EXPECT_TRUE(ItemWithText<TDialogButton>(*password, "OK")->IsDefault());
    EXPECT_EQ(ItemWithText<TDialogButton>(*password, "Cancel")->Command(), kDialogCancel);
    EXPECT_TRUE(password->Edit().Password());

    testing::TScriptedRunner runner;
    TPrintSettings settings;
    auto print = MakeRef<TKivPrintDialog>(*plain, nullptr, runner, settings);
    EXPECT_EQ(print->Caption(), "Print");
    EXPECT_EQ(print->SaveButton(), nullptr) << "no CanRestore, no Save button";
    EXPECT_EQ(ItemWithText<TDialogButton>(*print, "Change Printer")->Command(), kPrintCommandChangePrinter);
    EXPECT_FALSE(print->OnlyMainImage().Checked());

    TRef<TIniFile> translated = Project(
        "opt_lng_password_caption=Passwort\r\nopt_lng_password_label=Kennwort:\r\nopt_lng_button_ok=Gut\r\n"
        "opt_lng_button_cancel=Nein\r\nCanRestore=1\r\nopt_lng_print_caption=Drucken\r\n"
        "opt_lng_print_button5=Los\r\nopt_lng_print_button6=Sichern\r\nopt_lng_print_button7=Nur Bild\r\n"
        "opt_lng_print_label=Drucker\r\n");
    auto german = MakeRef<TKivPasswordDialog>(*translated);
    EXPECT_EQ(german->Caption(), "Passwort");
    for (const char* text : {"Kennwort:", "Gut", "Nein"})
        EXPECT_NE(ItemWithText(*german, text), nullptr);
    auto druck = MakeRef<TKivPrintDialog>(*translated, nullptr, runner, settings);
    EXPECT_EQ(druck->Caption(), "Drucken");
    ASSERT_NE(druck->SaveButton(), nullptr);
    EXPECT_EQ(druck->SaveButton()->Bounds().x, 145);
    EXPECT_EQ(druck->SaveButton()->Command(), kPrintCommandSave);
    for (const char* text : {"Los", "Nur Bild", "Drucker"})
        EXPECT_NE(ItemWithText(*druck, text), nullptr);
}

// Pixels of a rectangle (device pixels) that are darker than the dialog face.
int DarkPixels(const TBitmap& picture, int x0, int y0, int x1, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (picture.Row(y)[4 * x + 1] < 0x80) ++count;
    return count;
}

std::uint32_t PixelAt(const TBitmap& picture, int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(picture.Row(y))[x];
}

TEST(DialogPainter, DrawsTheLayoutScaledWithFocusDefaultBorderAndBoundedPasswords) {
    TRef<TIniFile> project = Project("");
    auto dialog = MakeRef<TKivPasswordDialog>(*project);
    dialog->Handle(TDialogInput::Type("abc"));
    const TRef<TBitmap> one = PaintDialog(*dialog, 1.0);
    ASSERT_EQ(one->Width(), 260);
    ASSERT_EQ(one->Height(), 98);
    EXPECT_EQ(PixelAt(*one, 1, 1), kDialogFace);
    EXPECT_GT(DarkPixels(*one, 12, 12, 256, 28), 20) << "the label is drawn";
    EXPECT_GT(DarkPixels(*one, 15, 34, 60, 51), 10) << "three bullets are drawn";
    EXPECT_EQ(DarkPixels(*one, 60, 34, 245, 51), 0) << "nothing after the bullets but the caret";
    // The default button's border is two pixels; Cancel's one.
    EXPECT_EQ(PixelAt(*one, 52, 75), kDialogSelection);
    EXPECT_EQ(PixelAt(*one, 53, 75), kDialogSelection);
    EXPECT_NE(PixelAt(*one, 134, 75), PixelAt(*one, 133, 75));

    // Focus on Cancel: its dotted rectangle appears.
    dialog->Handle(TDialogInput::Press(TDialogKey::ShiftTab));
    const TRef<TBitmap> focused = PaintDialog(*dialog, 1.0);
    int dots = 0;
    for (int x = 137; x < 204; ++x)
        if (PixelAt(*focused, x, 66) == kDialogText) ++dots;
    EXPECT_GT(dots, 25);

    // 120 dpi: every number scaled by 1.25.
    const TRef<TBitmap> large = PaintDialog(*dialog, 1.25);
    EXPECT_EQ(large->Width(), 325);
    EXPECT_EQ(large->Height(), 123);
    EXPECT_EQ(PixelAt(*large, 65, 95), kDialogSelection)
        << "OK's left border at 52 x 1.25, three pixels wide";

    // Ten thousand characters draw as one field of bullets.
    auto flood = MakeRef<TKivPasswordDialog>(*project);
    flood->Handle(TDialogInput::Type(std::string(10000, 'x')));
    EXPECT_EQ(flood->Edit().Text().size(), 10000u);
    const TRef<TBitmap> full = PaintDialog(*flood, 1.0);
    EXPECT_GT(DarkPixels(*full, 200, 34, 245, 51), 10) << "bullets run to the end of the field";
    EXPECT_EQ(DarkPixels(*full, 248, 32, 260, 53), 0) << "and not beyond it";
}

// The dialogs as a person sees them, caption included, for looking at (written next to the test).
TEST(DialogPainter, WritesScreenshotsOfEveryDialog) {
    TRef<TIniFile> project = Project("CanRestore=1\r\n");
    auto password = MakeRef<TKivPasswordDialog>(*project);
    password->Handle(TDialogInput::Type("secret"));
    testing::TScriptedRunner runner;
    TPrintSettings settings;
    auto print = MakeRef<TKivPrintDialog>(*project, nullptr, runner, settings);
    print->Handle(TDialogInput::Press(TDialogKey::Tab));
    print->Handle(TDialogInput::Press(TDialogKey::Tab));
    print->Handle(TDialogInput::Press(TDialogKey::Space));
    EXPECT_EQ(print->FocusedItem(), &print->OnlyMainImage());
    EXPECT_TRUE(print->OnlyMainImage().Checked());

    // The save and printer dialogs are captured while they run.
    std::vector<TRef<TBitmap>> shots;
    runner.scripts.push_back([&](TDialog& dialog) {
        shots.push_back(PaintDialog(dialog, 1.0, true));
        dialog.Handle(TDialogInput::Press(TDialogKey::Escape));
    });
    runner.scripts.push_back([&](TDialog& dialog) {
        dialog.Handle(TDialogInput::Press(TDialogKey::Down));
        shots.push_back(PaintDialog(dialog, 1.0, true));
        dialog.Handle(TDialogInput::Press(TDialogKey::Escape));
    });
    EXPECT_EQ(AskSaveFileName(runner, "/home/viewer/Pictures", "Slide3.bmp", "bmp"), std::nullopt);
    EXPECT_EQ(ChooseFromList(runner, "Change Printer", "Printer:", {"Office (default)", "Laser", "PDF"}, 0),
              std::nullopt);
    ASSERT_EQ(shots.size(), 2u);

    const std::pair<const char*, TRef<TBitmap>> files[] = {
        {"dialog-password.png", PaintDialog(*password, 1.0, true)},
        {"dialog-print.png", PaintDialog(*print, 1.0, true)},
        {"dialog-save.png", shots[0]},
        {"dialog-printers.png", shots[1]},
        {"dialog-password-144dpi.png", PaintDialog(*password, 1.5, true)},
    };
    for (const auto& [name, picture] : files) {
        EXPECT_GT(DarkPixels(*picture, 0, 0, picture->Width(), picture->Height()), 200) << name;
        EXPECT_TRUE(WritePngFile(*picture, name)) << name;
    }
}

} // namespace
} // namespace kiv
