#include "viewer/ActionInfo.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kiv {

void PrintTo(const TKivActionInfo& action, std::ostream* out) {
    *out << "{kind " << int(action.kind) << ", number " << action.number << ", text \"" << action.text
         << "\"}";
}

namespace {

TEST(ActionWord, PlainWordsMatchWithoutRegardToCase) {
    EXPECT_EQ(ParseActionWord("exit"), MakeAction(kActionExit));
    EXPECT_EQ(ParseActionWord("NextSlide"), MakeAction(kActionNextSlide));
    EXPECT_EQ(ParseActionWord("PREVSLIDE"), MakeAction(kActionPrevSlide));
    EXPECT_EQ(ParseActionWord("gotofirstslide"), MakeAction(kActionGotoSlide, 0));
    EXPECT_EQ(ParseActionWord("closedialog").kind, kActionCloseDialog);
    EXPECT_EQ(ParseActionWord("saveslide").kind, kActionSaveSlide);
    EXPECT_EQ(ParseActionWord("changeprinter").kind, kActionChangePrinter);
    EXPECT_EQ(ParseActionWord("stop").kind, kActionStop);
}

TEST(ActionWord, UnknownWordsAndNearMissesGiveNoAction) {
    for (const char* word : {"", "exit ", " exit", "next", "nextslide()", "goto", "jump(3)", "runap(\"x\")"})
        EXPECT_EQ(ParseActionWord(word).kind, kActionNone) << word;
}

TEST(ActionWord, GotoslideTakesANumberOrAName) {
    EXPECT_EQ(ParseActionWord("gotoslide(3)"), MakeAction(kActionGotoSlide, 3));
    EXPECT_EQ(ParseActionWord("GotoSlide(12)"), MakeAction(kActionGotoSlide, 12));
    // The name keeps its case; only the prefix is compared in lower case.
    EXPECT_EQ(ParseActionWord("GOTOSLIDE(Intro)"), MakeAction(kActionGotoSlide, -1, "Intro"));
    EXPECT_EQ(ParseActionWord("gotoslide(3a)"), MakeAction(kActionGotoSlide, -1, "3a"));
    // The last character is cut whatever it is.
    EXPECT_EQ(ParseActionWord("gotoslide(45"), MakeAction(kActionGotoSlide, 4));
    EXPECT_EQ(ParseActionWord("gotoslide("), MakeAction(kActionGotoSlide, -1, ""));
}

TEST(ActionWord, QuotedParametersAreCutAsWritten) {
    EXPECT_EQ(ParseActionWord("openwebsite(\"Example.com/A\")"),
              MakeAction(kActionOpenWebsite, 0, "Example.com/A"));
    EXPECT_EQ(ParseActionWord("writeemail(\"me@x.org\")"), MakeAction(kActionWriteEmail, 0, "me@x.org"));
    EXPECT_EQ(ParseActionWord("runapp(\"a.exe, b.exe\")"), MakeAction(kActionRunApp, 0, "a.exe, b.exe"));
    EXPECT_EQ(ParseActionWord("opendialog(\"Menu\")"), MakeAction(kActionOpenDialog, 0, "Menu"));
    // The cut characters are not checked.
    EXPECT_EQ(ParseActionWord("runapp(xabcyz"), MakeAction(kActionRunApp, 0, "abc"));
    // Too short to hold the quotes: an empty parameter, no crash.
    EXPECT_EQ(ParseActionWord("runapp(\""), MakeAction(kActionRunApp, 0, ""));
    EXPECT_EQ(ParseActionWord("opendialog(\")"), MakeAction(kActionOpenDialog, 0, ""));
}

TEST(ActionWord, LongerWordsAreNotTakenForTheirShorterPrefixes) {
    EXPECT_EQ(ParseActionWord("runappandexit(\"x\")"), MakeAction(kActionRunAppAndExit, 0, "x"));
    EXPECT_EQ(ParseActionWord("runpresentation(\"b.kvshow\")"),
              MakeAction(kActionRunPresentation, 0, "b.kvshow"));
    EXPECT_EQ(ParseActionWord("RunPresentationAndReturn(\"b.kvshow -slide 2\")"),
              MakeAction(kActionRunPresentationAndReturn, 0, "b.kvshow -slide 2"));
}

} // namespace
} // namespace kiv
