#include "audio/CompositeDescription.h"
#include "audio/KivMusicSource.h"
#include "audio/SoundFileCheck.h"

#include "package/FileAccessor.h"
#include "project/ShowProjectSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kiv {
namespace {

// Three slides: 0-5000, 5000-9000, 9000-15000 (no transitions); `main` goes into [Main].
TRef<TKivMusicSource> Source(const std::string& main,
                             const std::string& slides = "[Slide1]\n[Slide2]\n[Slide3]\n",
                             const TSoundFileCheck& check = {}) {
    const TRef<TKivSource> show =
        test::MakeSource("[Main]\n" + main + test::TimesText({5000, 9000, 15000}) + slides);
    return MakeRef<TKivMusicSource>(*show, check);
}

std::string MusicObject(const std::string& body) {
    return "object Music:Music\n" + body + "end\n";
}

std::string OneItem(int duration, bool repeat) {
    return MusicObject(
        "  object T:TMusicTrack\n    object I:TMusicItem\n      FileName=m.mp3\n      Duration=" +
        std::to_string(duration) +
        "\n    end\n  end\n  object O:TMusicOptions\n    IsRepeat=" + (repeat ? "1" : "0") + "\n  end\n");
}

std::string Comment(int slide, const std::string& keys) {
    return "[Slide" + std::to_string(slide) + "]\nobject Music:Music\n  object C:TSoundComment\n" + keys +
           "  end\nend\n";
}

TEST(MusicSource, TheBackgroundMusicIsOneCompositeInTheMainPlaylist) {
    const TRef<TKivMusicSource> music = Source(OneItem(10000, false));
    EXPECT_TRUE(music->Enabled());
    EXPECT_FALSE(music->SyncMode());
    EXPECT_TRUE(music->CutComments());
    EXPECT_EQ(music->ShowDuration(), 15000);
    ASSERT_EQ(music->MainPlaylist().Count(), 1);
    const TMusicItemInfo item = music->MainPlaylist().Item(0);
    EXPECT_TRUE(IsCompositeText(item.file));
    EXPECT_EQ(item.start, 0);
    EXPECT_EQ(item.length, 10000);
    EXPECT_EQ(music->MainPlaylist().TotalLength(), 10000);
    EXPECT_EQ(music->SlideCount(), 3);
    EXPECT_EQ(music->SlideInfo(0).number, 1);
    EXPECT_EQ(music->SlideInfo(2).number, 0); // the last slide
    EXPECT_EQ(music->SlideInfo(1).times.start, 5000);
}

TEST(MusicSource, RepeatingMusicShorterThanTheShowRepeatsWithinAPass) {
    const TRef<TKivMusicSource> music = Source("opt_syncmode=1\n" + OneItem(10000, true));
    EXPECT_TRUE(music->SyncMode());
    EXPECT_TRUE(music->Repeat());
    const TPlayList& list = music->MainPlaylist();
    EXPECT_TRUE(list.Repeat());
    // Later items stand for the same music, one total length later each.
    EXPECT_EQ(list.Item(1).start, 10000);
    EXPECT_EQ(list.Item(3).start, 30000);
    EXPECT_EQ(list.Item(3).file, list.Item(0).file);
    EXPECT_EQ(list.Item(-1).file, "");
}

TEST(MusicSource, InSyncModeMusicWithinTwoHundredMsOfThePassDoesNotRepeat) {
    EXPECT_FALSE(Source("opt_syncmode=1\n" + OneItem(14801, true))->Repeat());
    EXPECT_FALSE(Source("opt_syncmode=1\n" + OneItem(14801, true))->MainPlaylist().Repeat());
    EXPECT_TRUE(Source("opt_syncmode=1\n" + OneItem(14800, true))->Repeat()); // 14800 + 200 is not above
    // Without sync mode the music repeats on its own clock whatever its length.
    EXPECT_TRUE(Source(OneItem(14900, true))->Repeat());
    EXPECT_FALSE(Source(OneItem(1000, false))->Repeat());
}

TEST(MusicSource, MusicDisableSilencesMusicAndComments) {
    const TRef<TKivMusicSource> music = Source(
        MusicObject("  music_disable=1\n  object I:TMusicItem\n    FileName=a\n    Duration=5\n  end\n"),
        Comment(1, "    FileName=voice.mp3\n    Duration=1000\n") + "[Slide2]\n[Slide3]\n");
    EXPECT_FALSE(music->Enabled());
    EXPECT_EQ(music->MainPlaylist().Count(), 0);
    EXPECT_EQ(music->SlideCount(), 0);
}

TEST(MusicSource, AShowWithoutMusicHasAnEmptyPlaylist) {
    const TRef<TKivMusicSource> music = Source("");
    EXPECT_TRUE(music->Enabled());
    EXPECT_EQ(music->MainPlaylist().Count(), 0);
    for (std::int32_t i = 0; i < music->SlideCount(); ++i)
        EXPECT_TRUE(music->SlideInfo(i).comment.empty());
}

const std::string kLongComment =
    "    FileName=voice.mp3\n    Duration=8000\n    Pause=500\n    StartTime=100\n";

TEST(SlideSound, ACommentLongerThanItsSlideIsCutAtTheSlidesEnd) {
    const TRef<TKivMusicSource> music = Source("", Comment(1, kLongComment) + "[Slide2]\n" +
                                                       Comment(3, "    FileName=c.mp3\n    Duration=1000\n"));
    const TSlideMusicInfo& first = music->SlideInfo(0);
    EXPECT_EQ(first.commentLength, 5000);
    const std::optional<TCompositeDescription> read = ReadCompositeText(first.comment);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->items.size(), 1u);
    EXPECT_EQ(read->items[0].timeLine, 500); // after its pause
    EXPECT_EQ(read->items[0].beginTime, 100);
    EXPECT_EQ(read->items[0].duration, 4500);
    EXPECT_TRUE(music->SlideInfo(1).comment.empty());
    EXPECT_EQ(music->SlideInfo(2).commentLength, 1000);
}

TEST(SlideSound, WithFullyPlaySoundACommentPlaysOnOverSlidesWithoutComments) {
    const TRef<TKivMusicSource> music =
        Source("opt_fullyplaysound=1\n", Comment(1, kLongComment) + "[Slide2]\n" +
                                             Comment(3, "    FileName=c.mp3\n    Duration=99000\n"));
    EXPECT_FALSE(music->CutComments());
    // Slide 2 has no comment: the first may last until slide 2 ends (9000); it needs 8500.
    EXPECT_EQ(music->SlideInfo(0).commentLength, 8500);
    // The last slide's comment may run to the last slide's end.
    EXPECT_EQ(music->SlideInfo(2).commentLength, 6000);

    // A comment on the very next slide stops it at its own slide's end again.
    const TRef<TKivMusicSource> next =
        Source("opt_fullyplaysound=1\n",
               Comment(1, kLongComment) + Comment(2, "    FileName=b.mp3\n    Duration=10\n") + "[Slide3]\n");
    EXPECT_EQ(next->SlideInfo(0).commentLength, 5000);
    // A comment whose file is "error" is no comment: it neither sounds nor stops the one before.
    const TRef<TKivMusicSource> error =
        Source("opt_fullyplaysound=1\n",
               Comment(1, kLongComment) + Comment(2, "    FileName=ERROR\n    Duration=10\n") + "[Slide3]\n");
    EXPECT_EQ(error->SlideInfo(0).commentLength, 8500);
    EXPECT_TRUE(error->SlideInfo(1).comment.empty());
}

TEST(SlideSound, CommentFadesAndVolumeBecomeEnvelopes) {
    const TRef<TKivMusicSource> music =
        Source("", Comment(2, "    FileName=v.mp3\n    Duration=3000\n    FadeIn=100\n    Volume=50\n"
                              "    VolumeParams=0:65536,44100:0\n") +
                       "[Slide1]\n[Slide3]\n");
    const std::optional<TCompositeDescription> read = ReadCompositeText(music->SlideInfo(1).comment);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->items[0].envelopes, (TVolumeParamsList{{{0, 0}, {100, 500}}, {{0, 1000}, {1000, 0}}}));
}

const std::string kVideoSlides =
    "[Tracks]\nobject c1:TVideoClip2\n  GUID={C1}\n  FileName=long.mp4\n  StartKIVTime=5000\n  "
    "Duration=7000\n"
    "  StartVideoTime=40\nend\n"
    "[Slide1]\n"
    "[Slide2]\nobject Root:Container\n"
    "  object V1:Video\n    FileName=clip.mp4\n    StartKIVTime=1000\n    StartVideoTime=200\n    "
    "Duration=10000\n"
    "    object k:KeyPoint\n      object Hidden:Video\n        FileName=never.mp4\n        Duration=50\n     "
    " end\n    end\n"
    "  end\n"
    "  object V2:Video\n    ClipGUID={c1}\n  end\n"
    "  object Box:Container\n    object V3:Video\n      ClipGUID={C1}\n    end\n  end\n"
    "  object G:Video\n    FileName=anim.GIF\n    Duration=1000\n  end\n"
    "  object M:Video\n    FileName=muted.mp4\n    Duration=1000\n    Mute=1\n  end\n"
    "  object F:Video\n    FileName=fast.mp4\n    Duration=1000\n    FPSMultiplier=2\n  end\n"
    "  object Q:Video\n    FileName=quiet.mp4\n    Duration=1000\n    Volume=0.5\n  end\n"
    "end\n"
    "[Slide3]\nobject V:Video\n  ClipGUID={C1}\nend\n";

TEST(SlideSound, VideoClipsJoinTheSlidesSound) {
    const TRef<TKivMusicSource> music = Source("", kVideoSlides);
    const TSlideMusicInfo& slide = music->SlideInfo(1);
    const std::optional<TCompositeDescription> read = ReadCompositeText(slide.comment);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->items.size(), 3u);
    // Own keys, cut to the slide's 4000 ms span less its start.
    EXPECT_EQ(read->items[0].fileName, "clip.mp4");
    EXPECT_EQ(read->items[0].timeLine, 1000);
    EXPECT_EQ(read->items[0].beginTime, 200);
    EXPECT_EQ(read->items[0].duration, 3000);
    // The clip of [Tracks] once, though named twice, placed at its start within the slide.
    EXPECT_EQ(read->items[1].fileName, "long.mp4");
    EXPECT_EQ(read->items[1].timeLine, 0);
    EXPECT_EQ(read->items[1].beginTime, 40);
    EXPECT_EQ(read->items[1].duration, 7000);
    EXPECT_EQ(read->items[2].fileName, "quiet.mp4");
    EXPECT_EQ(read->items[2].envelopes, (TVolumeParamsList{{{0, 500}, {1000, 500}}}));
    EXPECT_EQ(slide.commentLength, 7000);
    // Slide 3 starts after the clip began: the clip belongs to slide 2.
    EXPECT_TRUE(music->SlideInfo(2).comment.empty());
}

TEST(SlideSound, AMissingSlideSectionHasNoSoundAndSaysSo) {
    TRef<TKivMusicSource> music;
    const std::string log =
        test::LoggedWhile([&] { music = Source("", Comment(1, kLongComment) + "[Slide3]\n"); });
    EXPECT_FALSE(music->SlideInfo(0).comment.empty());
    EXPECT_TRUE(music->SlideInfo(1).comment.empty());
    EXPECT_NE(log.find("Slide2"), std::string::npos);
}

// Files on disk for the file check: a sound, a text, a folder; one name is missing.
class SoundFiles : public testing::Test {
protected:
    void SetUp() override {
        folder_ = testing::TempDir() + "kiv_sound_" + std::to_string(::getpid());
        std::filesystem::create_directories(folder_ + "/sub");
        Write("voice.mp3", std::string("ID3\x04\0\0\0\0\0\0", 10));
        Write("frame.mp3", std::string("\xFF\xFB\x90\x64", 4));
        Write("song.wav", std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
        Write("notes.txt", "just some text here");
        Write("tiny.ogg", "Og");
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder_ + "/" + name, std::ios::binary) << bytes;
    }
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    std::string folder_;
};

TEST_F(SoundFiles, KindsFollowTheFilesHead) {
    const TRef<TFileAccessor> files = ProcessFileAccessor();
    EXPECT_EQ(CheckSoundFile(*files, Path("voice.mp3")), TSoundFileKind::Sound);
    EXPECT_EQ(CheckSoundFile(*files, Path("frame.mp3")), TSoundFileKind::Sound);
    EXPECT_EQ(CheckSoundFile(*files, Path("song.wav")), TSoundFileKind::Sound);
    EXPECT_EQ(CheckSoundFile(*files, Path("notes.txt")), TSoundFileKind::NotSound);
    EXPECT_EQ(CheckSoundFile(*files, Path("tiny.ogg")), TSoundFileKind::NotSound);
    EXPECT_EQ(CheckSoundFile(*files, Path("missing.mp3")), TSoundFileKind::Missing);
    EXPECT_NE(CheckSoundFile(*files, Path("sub")), TSoundFileKind::Sound);
    EXPECT_EQ(SoundKindOfHead(std::string("\xFF\xE0\0\0", 4)), TSoundFileKind::NotSound); // reserved layer
    EXPECT_EQ(SoundKindOfHead(std::string(kCompositeMarker)), TSoundFileKind::Sound);
}

TEST_F(SoundFiles, BadFilesAreSilentWithALogLineEach) {
    const std::string slides = Comment(1, "    FileName=" + Path("missing.mp3") + "\n    Duration=1000\n") +
                               Comment(2, "    FileName=" + Path("sub") + "\n    Duration=1000\n") +
                               Comment(3, "    FileName=" + Path("notes.txt") + "\n    Duration=1000\n");
    const std::string music =
        MusicObject("  object T:TMusicTrack\n    object I:TMusicItem\n      FileName=" + Path("voice.mp3") +
                    "\n      Duration=2000\n    end\n  end\n");
    TRef<TKivMusicSource> source;
    const std::string log =
        test::LoggedWhile([&] { source = Source(music, slides, MakeSoundFileCheck(ProcessFileAccessor())); });
    EXPECT_EQ(source->MainPlaylist().Count(), 1);
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(source->SlideInfo(i).comment.empty()) << i;
    EXPECT_NE(log.find("Sound file missing: " + Path("missing.mp3")), std::string::npos) << log;
    EXPECT_NE(log.find(Path("sub")), std::string::npos) << log;
    EXPECT_NE(log.find("Not a sound file: " + Path("notes.txt")), std::string::npos) << log;
}

} // namespace
} // namespace kiv
