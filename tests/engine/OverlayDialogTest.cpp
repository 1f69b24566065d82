// Dialog slides: which section a name builds, their opacity and pause flag, the 200 ms fades in
// the overlay, showing twice to close, closing at once and closing the blocking ones, and mouse
// events reaching a dialog's objects before anything else.
#include "engine/OverlayTestSupport.h"
#include "objects/SlideProducer.h"
#include "project/KivSource.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using namespace test;

// An 800 × 600 show; every dialog holds a 100 × 50 box with an action at the centre.
std::string DialogSection(const std::string& name, const std::string& keys = {}) {
    return "[" + name + "]\n" + keys + "object Container:Root\nGUID=root\nobject box:Box\nGUID=box-" + name +
           "\nFitMode=None\nSize=100,50\nAction=nextslide\nend\nend\n";
}

class OverlayDialog : public OverlayFixture {
protected:
    void Open(const std::string& dialogs, const std::string& main = {}) {
        TKivSourceSetup setup;
        setup.document = ParseIni("[Main]\nopt_scr_width=800\nopt_scr_height=600\n" + main +
                                  "[Times]\nopt_slidescount=0\n" + dialogs);
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        source_ = MakeRef<TKivSource>(std::move(setup));
        producer_ = std::make_unique<TSlideProducer>(*source_);
        producer_->SetScreen(800, 600, kShowFitInside);
    }
    TThirdSlide& MakeOverlay() { return Make("", {0, 0, 800, 600}, 800, 600, producer_.get()); }
    // Draws a frame and returns the opacity of every box drawn.
    std::vector<float> Frame() {
        TRecordingDrawer drawer;
        drawer.Draw(*overlay_);
        std::vector<float> opacities;
        for (const TDrawCall& call : drawer.calls)
            if (call.op == "DrawBox") opacities.push_back(call.opacity);
        return opacities;
    }
    void At(std::int64_t t) {
        now_ = t;
        overlay_->Update(0);
    }

    TRef<TKivSource> source_;
    std::unique_ptr<TSlideProducer> producer_;
};

TEST_F(OverlayDialog, NamesFindTheirSections) {
    Open(DialogSection("dialog_1_") + DialogSection("dialog_2_", "help=1\nDialogPause=0\n") +
             DialogSection("dialog_3_", "help=1\n") + DialogSection("dialog_Info"),
         "opt_customdialogscount=5\ncustom_dialog1=About\ncustom_dialog5=Other\n");
    TRef<TKivDialog> help = producer_->BuildDialog("help");
    ASSERT_TRUE(help);
    EXPECT_EQ(help->Name(), "help");
    EXPECT_FALSE(help->DialogPause());
    EXPECT_EQ(help->Child(0)->Guid(), "box-dialog_2_"); // the first with help = 1
    EXPECT_FLOAT_EQ(help->Opacity(), 0.0f);
    EXPECT_FALSE(help->HasBackground());

    TRef<TKivDialog> about = producer_->BuildDialog("ABOUT");
    ASSERT_TRUE(about);
    EXPECT_EQ(about->Child(0)->Guid(), "box-dialog_1_");
    EXPECT_TRUE(about->DialogPause());
    EXPECT_EQ(producer_->BuildDialog("Info")->Child(0)->Guid(), "box-dialog_Info");
    EXPECT_FALSE(producer_->BuildDialog("Other")); // named, but its section is missing
    EXPECT_FALSE(producer_->BuildDialog("nothing"));
}

// A show may set the count to anything: only the names [Main] holds are looked at, and among them
// the lowest number still wins, as when every number up to the count is tried in turn.
TEST_F(OverlayDialog, AHugeDialogCountFindsTheNamedDialogsAtOnce) {
    Open(DialogSection("dialog_3_") + DialogSection("dialog_7_") + DialogSection("dialog_2147483647_") +
             DialogSection("dialog_c") + DialogSection("dialog_9_"),
         "opt_customdialogscount=2147483647\ncustom_dialog7=a\ncustom_dialog3=A\n"
         "custom_dialog2147483647=b\ncustom_dialog07=c\nCUSTOM_DIALOG9=d\ncustom_dialog9=e\n");
    EXPECT_EQ(producer_->BuildDialog("a")->Child(0)->Guid(), "box-dialog_3_");
    EXPECT_EQ(producer_->BuildDialog("b")->Child(0)->Guid(), "box-dialog_2147483647_");
    EXPECT_EQ(producer_->BuildDialog("c")->Child(0)->Guid(), "box-dialog_c"); // "07" is no number N
    EXPECT_EQ(producer_->BuildDialog("e")->Child(0)->Guid(), "box-dialog_9_"); // the later key wins
    EXPECT_FALSE(producer_->BuildDialog("d"));
    EXPECT_FALSE(producer_->BuildDialog("nothing"));
}

TEST_F(OverlayDialog, HelpWithoutAHelpSectionBuildsNothing) {
    Open(DialogSection("dialog_1_") + DialogSection("dialog_3_", "help=1\n"));
    EXPECT_FALSE(producer_->BuildDialog("help")); // the search stops at the missing dialog_2_
}

TEST_F(OverlayDialog, OpensFadesInAndClosesByShowingTwice) {
    Open(DialogSection("dialog_1_", "help=1\n"));
    TThirdSlide& overlay = MakeOverlay();
    ASSERT_TRUE(overlay.OpenDialog("help"));
    TKivDialog* dialog = overlay.TopDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(overlay.HasBlockingDialog());
    At(0);
    EXPECT_FLOAT_EQ(dialog->Opacity(), 0.0f); // the fade waits for the first frame
    EXPECT_TRUE(Frame().empty());             // drawn once, its box still invisible
    At(1000);
    EXPECT_FLOAT_EQ(dialog->Opacity(), 0.0f);
    At(1100);
    EXPECT_FLOAT_EQ(dialog->Opacity(), 50.0f);
    EXPECT_TRUE(overlay.NeedsRedraw());
    EXPECT_EQ(Frame(), std::vector<float>{50.0f}); // its opacity multiplies the box's
    At(1200);
    EXPECT_FLOAT_EQ(dialog->Opacity(), 100.0f);
    Frame();
    At(1300);
    EXPECT_FALSE(overlay.NeedsRedraw()); // the fade is over

    // Help again while open: the open one starts closing, no second one appears.
    ASSERT_TRUE(overlay.OpenDialog("help"));
    EXPECT_EQ(overlay.DialogCount(), 1);
    At(1400);
    EXPECT_FLOAT_EQ(dialog->Opacity(), 50.0f);
    // While it closes, showing a dialog is ignored.
    overlay.ShowDialog(producer_->BuildDialog("help"));
    EXPECT_EQ(overlay.DialogCount(), 1);
    At(1490);
    EXPECT_EQ(overlay.DialogCount(), 1); // 5 %
    At(1496);                            // 2 %: still there
    EXPECT_EQ(overlay.DialogCount(), 1);
    At(1499); // below 1 %: gone
    EXPECT_EQ(overlay.DialogCount(), 0);
    EXPECT_EQ(overlay.TopDialog(), nullptr);
    EXPECT_TRUE(Frame().empty());
}

TEST_F(OverlayDialog, CloseDialogRemovesAtOnceAndRefusesAnIndexNotPresent) {
    Open(DialogSection("dialog_A") + DialogSection("dialog_B"));
    TThirdSlide& overlay = MakeOverlay();
    overlay.OpenDialog("A");
    overlay.OpenDialog("B");
    EXPECT_EQ(overlay.DialogByName("a"), overlay.Dialog(0));
    overlay.CloseDialog(-1);
    ASSERT_EQ(overlay.DialogCount(), 1);
    EXPECT_EQ(overlay.TopDialog()->Name(), "A");
    EXPECT_THROW(overlay.CloseDialog(3), EAssertionFailed);
    overlay.CloseDialog(0);
    EXPECT_THROW(overlay.CloseDialog(-1), EAssertionFailed);
}

TEST_F(OverlayDialog, CloseBlockingDialogsKeepsTheOthersAndFadesTheTopOne) {
    Open(DialogSection("dialog_A") + DialogSection("dialog_B", "DialogPause=0\n") +
         DialogSection("dialog_C"));
    TThirdSlide& overlay = MakeOverlay();
    overlay.OpenDialog("A");
    overlay.OpenDialog("B");
    overlay.OpenDialog("C");
    Frame();
    At(0);
    At(200);
    EXPECT_FLOAT_EQ(overlay.DialogByName("C")->Opacity(), 100.0f);
    overlay.CloseBlockingDialogs();
    ASSERT_EQ(overlay.DialogCount(), 2); // A closed at once
    EXPECT_EQ(overlay.Dialog(0)->Name(), "B");
    At(300);
    EXPECT_FLOAT_EQ(overlay.DialogByName("C")->Opacity(), 50.0f);
    At(400);
    ASSERT_EQ(overlay.DialogCount(), 1);
    EXPECT_FALSE(overlay.HasBlockingDialog());
}

TEST_F(OverlayDialog, ADialogTakesTheMouseBeforeTheSlides) {
    Open(DialogSection("dialog_A"));
    TThirdSlide& overlay = MakeOverlay();
    overlay.OpenDialog("A");
    TOverlayMouseResult r = overlay.Mouse(1, 0, kMousePress, 400, 300);
    ASSERT_NE(r.object, nullptr);
    EXPECT_EQ(r.object->Guid(), "box-dialog_A");
    EXPECT_TRUE(r.handled);
    EXPECT_FALSE(r.fired);
    r = overlay.Mouse(1, 0, kMouseRelease, 400, 300);
    EXPECT_TRUE(r.fired);
    EXPECT_EQ(r.dialogAction, "nextslide");
    // Beside the box nothing is hit and the event goes on to the slides.
    r = overlay.Mouse(1, 0, kMousePress, 50, 50);
    EXPECT_FALSE(r.handled);
    EXPECT_EQ(r.object, nullptr);
}

TEST_F(OverlayDialog, WithoutAProducerNothingOpens) {
    Open(DialogSection("dialog_A"));
    TThirdSlide& overlay = Make("");
    EXPECT_FALSE(overlay.OpenDialog("A"));
    overlay.ShowDialog(nullptr);
    EXPECT_EQ(overlay.DialogCount(), 0);
}

} // namespace
} // namespace kiv
