#include "components/kwmidi.h"

#include "faultyfilesystem.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kHeader = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3, 0x03, 0x00};
const Bytes kTempoTrack = {'M', 'T', 'r', 'k', 0, 0, 0, 0x13, 0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
                           0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00};
const Bytes kChannelTrack = {'M', 'T', 'r', 'k', 0, 0, 0, 9, 0x00, 0xFF, 0x20, 0x01, 0x01, 0x00, 0xFF, 0x2F, 0x00};
const Bytes kEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

Bytes noteTrack(const Bytes& events) {
    Bytes track = {'M', 'T', 'r', 'k', 0, 0, static_cast<uint8_t>(events.size() >> 8), static_cast<uint8_t>(events.size())};
    track.insert(track.end(), events.begin(), events.end());
    return track;
}

Bytes groupEvents(const std::string& length, const std::string& velocity, const std::string& notes) {
    std::ostringstream out;
    TKwMidi::NoteOnEvent(out, length, velocity, notes);
    return bytesOf(out.str());
}

class KwMidiTest : public testing::Test {
protected:
    void SetUp() override { midi.ClearNotes(); }
    void TearDown() override { midi.ClearNotes(); }

    Bytes written() {
        const auto file = dir / "song.mid";
        EXPECT_TRUE(midi.WriteMidiFile(file.string()));
        return testsupport::readBytes(file);
    }

    // The file as mido reads it.
    std::string readByMido() {
        const auto file = dir / "song.mid";
        EXPECT_TRUE(midi.WriteMidiFile(file.string()));
        const auto r = testsupport::runCommand(
            "/usr/bin/python3 " + testsupport::shellQuote(FOLVIO_SOURCE_DIR "/tests/components/midi_dump.py") + " " +
            testsupport::shellQuote(file.string()));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.output;
    }

    TKwMidi midi;
    testsupport::TempDir dir;
};

TEST_F(KwMidiTest, EmptyStoreWritesTheFourChunksOnly) {
    const Bytes file = written();
    EXPECT_EQ(file.size(), 14u + 27 + 12 + 17);
    EXPECT_EQ(file, concat({kHeader, kTempoTrack, noteTrack(kEndOfTrack), kChannelTrack}));
    EXPECT_EQ(midi.CountBytes(), 4);
}

TEST_F(KwMidiTest, OneQuarterNoteWritesItsOnAndOffEvents) {
    midi.AddNote("60", "4", "100");
    const Bytes events = {0x00, 0x90, 0x3C, 0x64, 0x86, 0x00, 0x80, 0x3C, 0x64, 0x00, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(written(), concat({kHeader, kTempoTrack, noteTrack(events), kChannelTrack}));
    EXPECT_EQ(midi.CountBytes(), 0x0D);
}

TEST_F(KwMidiTest, ChordStartsAllNotesAndEndsThemAfterOneDelta) {
    const Bytes expected = {0x00, 0x90, 0x3C, 0x64, 0x00, 0x90, 0x40, 0x64, 0x00, 0x90, 0x43, 0x64,
                            0x60, 0x80, 0x3C, 0x64, 0x00, 0x80, 0x40, 0x64, 0x00, 0x80, 0x43, 0x64};
    const Bytes events = groupEvents("32", "100", "60,64,67");
    EXPECT_EQ(events, expected);
    EXPECT_EQ(events.size(), 24u) << "8 * 3 - 1 bytes plus one delta byte";
    EXPECT_EQ(groupEvents("4", "100", "60,"), groupEvents("4", "100", "60")) << "a trailing comma adds no note";
}

TEST(KwMidi, LengthCodesGiveTheirDeltaTimes) {
    struct Case {
        const char* code;
        Bytes delta;
    } cases[] = {{"1", {0x98, 0x00}},   {"2", {0x8C, 0x00}},   {"4", {0x86, 0x00}},   {"8", {0x83, 0x00}},
                 {"16", {0x81, 0x40}},  {"32", {0x60}},        {"T1", {0x90, 0x00}},  {"T2", {0x88, 0x00}},
                 {"T4", {0x84, 0x00}},  {"T8", {0x82, 0x00}},  {"T16", {0x81, 0x00}}, {"T32", {0x40}},
                 {"P1", {0xA4, 0x00}},  {"P2", {0x92, 0x00}},  {"P4", {0x89, 0x00}},  {"P8", {0x84, 0x40}},
                 {"P16", {0x82, 0x20}}, {"P32", {0x81, 0x10}}, {"D1", {0xAA, 0x00}},  {"D2", {0x95, 0x00}},
                 {"D4", {0x8A, 0x40}},  {"D8", {0x85, 0x20}},  {"D16", {0x82, 0x50}}, {"D32", {0x81, 0x28}},
                 {"t4", {0x98, 0x00}},  {"", {0x98, 0x00}},    {"3", {0x98, 0x00}}};
    for (const auto& c : cases) {
        const Bytes expected = concat({{0x00, 0x90, 0x45, 0x50}, c.delta, {0x80, 0x45, 0x50}});
        EXPECT_EQ(groupEvents(c.code, "80", "69"), expected) << '"' << c.code << '"';
    }
}

TEST_F(KwMidiTest, CountBytesIsTheLengthOfTheWrittenNoteTrack) {
    midi.AddNote("60,64,67", "32", "100");
    midi.AddNote("62", "P8", "90");
    midi.AddNote("64,", "D1", "80");
    midi.AddNote("1,2,3,4,5", "T32", "1");
    const Bytes file = written();
    const size_t track = 14 + 27;
    const uint32_t length = (uint32_t(file[track + 4]) << 24) | (uint32_t(file[track + 5]) << 16) |
                            (uint32_t(file[track + 6]) << 8) | file[track + 7];
    EXPECT_EQ(length, static_cast<uint32_t>(midi.CountBytes()));
    EXPECT_EQ(file.size(), track + 8 + length + 17);
    EXPECT_EQ(midi.CountBytes(), 24 + 9 + 9 + 40 + 4);
}

TEST_F(KwMidiTest, MidoReadsTheMessagesDeltaTimesAndTracksOfTheStore) {
    struct Group {
        const char* notes;
        const char* length;
        int velocity;
        std::vector<int> keys;
        int ticks;
    } melody[] = {{"60", "4", 100, {60}, 768},          {"62", "8", 90, {62}, 384},
                  {"64,67,71", "2", 80, {64, 67, 71}, 1536}, {"65", "T4", 70, {65}, 512},
                  {"0,127", "P16", 127, {0, 127}, 288}, {"72,", "D32", 0, {72}, 168},
                  {"60", "X", 1, {60}, 3072}};
    std::string expected =
        "type 1 ticks 768 tracks 3\n"
        "track 0\n"
        "  MetaMessage('time_signature', numerator=4, denominator=4, clocks_per_click=24, "
        "notated_32nd_notes_per_beat=8, time=0)\n"
        "  MetaMessage('set_tempo', tempo=500000, time=0)\n"
        "  MetaMessage('end_of_track', time=0)\n"
        "track 1\n";
    for (const auto& g : melody) {
        midi.AddNote(g.notes, g.length, std::to_string(g.velocity));
        const std::string vel = " velocity=" + std::to_string(g.velocity);
        for (int key : g.keys) expected += "  note_on channel=0 note=" + std::to_string(key) + vel + " time=0\n";
        for (size_t i = 0; i < g.keys.size(); ++i)
            expected += "  note_off channel=0 note=" + std::to_string(g.keys[i]) + vel +
                        " time=" + std::to_string(i == 0 ? g.ticks : 0) + "\n";
    }
    expected +=
        "  MetaMessage('end_of_track', time=0)\n"
        "track 2\n"
        "  MetaMessage('channel_prefix', channel=1, time=0)\n"
        "  MetaMessage('end_of_track', time=0)\n";
    EXPECT_EQ(readByMido(), expected);
}

TEST_F(KwMidiTest, MidoReadsTheEmptyStoresFile) {
    EXPECT_NE(readByMido().find("track 1\n  MetaMessage('end_of_track', time=0)\ntrack 2"), std::string::npos);
}

TEST_F(KwMidiTest, RefusedEntriesThrowBeforeTheFileIsTouched) {
    struct Case {
        const char* notes;
        const char* velocity;
    } cases[] = {{"60", "loud"}, {"60", ""}, {"60", "100 "}, {"60", "128"}, {"60", "-1"},
                 {"128", "100"}, {"60,300", "100"}, {"-5", "100"}, {"", "100"}};
    const auto file = dir / "song.mid";
    midi.AddNote("60", "4", "100");
    ASSERT_TRUE(midi.WriteMidiFile(file.string()));
    const Bytes before = testsupport::readBytes(file);
    for (const auto& c : cases) {
        midi.AddNote(c.notes, "4", c.velocity);
        EXPECT_THROW(midi.WriteMidiFile(file.string()), std::invalid_argument) << c.notes << " / " << c.velocity;
        EXPECT_EQ(testsupport::readBytes(file), before);
        midi.DeleteNote(1);
    }
}

TEST_F(KwMidiTest, AFailedRewriteKeepsTheEarlierFileWhole) {
    const auto file = dir / "song.mid";
    midi.AddNote("60", "4", "100");
    ASSERT_TRUE(midi.WriteMidiFile(file.string()));
    const Bytes before = testsupport::readBytes(file);
    midi.AddNote("64,67", "2", "90");
    for (uint64_t budget : {0, 20, 70}) {
        SCOPED_TRACE("disk full after " + std::to_string(budget) + " bytes");
        testsupport::FaultyFileSystem files;
        files.writeBudget = budget;
        platform::ScopedFileSystem installed(files);
        EXPECT_FALSE(midi.WriteMidiFile(file.string()));
        EXPECT_EQ(testsupport::readBytes(file), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST_F(KwMidiTest, UnwritableFileReportsFalseAndLeavesNothing) {
    midi.AddNote("60", "4", "100");
    EXPECT_FALSE(midi.WriteMidiFile((dir / "missing" / "song.mid").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    testsupport::writeFile(dir / "plain", "a file, not a folder");
    EXPECT_FALSE(midi.WriteMidiFile((dir / "plain" / "song.mid").string()));
}

TEST_F(KwMidiTest, StoreIsSharedByAllComponentsAndKeepsItsIndexesParallel) {
    TKwMidi other;
    midi.AddNote("60", "4", "100");
    other.AddNote("62", "8", "90");
    midi.AddNote("64", "2", "80");
    EXPECT_EQ(midi.Notes(), (std::vector<std::string>{"60", "62", "64"}));
    other.DeleteNote(1);
    EXPECT_EQ(midi.Notes(), (std::vector<std::string>{"60", "64"}));
    EXPECT_EQ(midi.Lengths(), (std::vector<std::string>{"4", "2"}));
    EXPECT_EQ(midi.Velocities(), (std::vector<std::string>{"100", "80"}));
    EXPECT_EQ(&other.Notes(), &midi.Notes());
    EXPECT_THROW(midi.DeleteNote(2), std::out_of_range);
    EXPECT_THROW(midi.DeleteNote(-1), std::out_of_range);
    other.ClearNotes();
    EXPECT_TRUE(midi.Notes().empty() && midi.Lengths().empty() && midi.Velocities().empty());
    EXPECT_FALSE(midi.OwnsStore());
}

TEST_F(KwMidiTest, AComponentWithItsOwnStoreSharesNoNotes) {
    TKwMidi own(TKwMidi::StoreKind::Own), another(TKwMidi::StoreKind::Own);
    EXPECT_TRUE(own.OwnsStore());
    midi.AddNote("60", "4", "100");
    own.AddNote("62", "8", "90");
    own.AddNote("64", "2", "80");
    another.AddNote("67", "1", "70");
    EXPECT_EQ(midi.Notes(), std::vector<std::string>{"60"}) << "the program's store sees none of the own notes";
    EXPECT_EQ(own.Notes(), (std::vector<std::string>{"62", "64"}));
    EXPECT_EQ(own.Lengths(), (std::vector<std::string>{"8", "2"}));
    EXPECT_EQ(another.Notes(), std::vector<std::string>{"67"});

    // A copy takes the notes along and goes its own way from there.
    TKwMidi copy = own;
    copy.DeleteNote(0);
    EXPECT_EQ(copy.Notes(), std::vector<std::string>{"64"});
    EXPECT_EQ(own.Notes(), (std::vector<std::string>{"62", "64"}));

    // Each writes its own store: two single notes of two delta bytes each and the end of track.
    const auto path = dir / "own.mid";
    ASSERT_TRUE(own.WriteMidiFile(path.string()));
    EXPECT_EQ(own.CountBytes(), 9 + 9 + 4);
    EXPECT_EQ(testsupport::readBytes(path).size(), 14u + 27 + 8 + 22 + 17);
    own.ClearNotes();
    EXPECT_EQ(midi.Notes(), std::vector<std::string>{"60"}) << "clearing an own store leaves the program's";
}

TEST(KwMidi, ExtractNotesSplitsAtCommas) {
    struct Case {
        const char* text;
        std::vector<std::string> pieces;
    } cases[] = {{"60", {"60"}},         {"60,64,67", {"60", "64", "67"}}, {"60,", {"60"}},
                 {",60", {"", "60"}},    {"", {}},                          {"60,,64", {"60", "", "64"}},
                 {",,", {"", ""}},       {"60, 64", {"60", " 64"}}};
    std::vector<std::string> list{"left over"};
    for (const auto& c : cases) {
        TKwMidi::ExtractNotes(c.text, list);
        EXPECT_EQ(list, c.pieces) << '"' << c.text << '"';
    }
}

TEST(KwMidi, OctavesAndFrequencies) {
    struct Case {
        int note;
        int octave;
        const char* hz;
    } cases[] = {{0, 0, "8,175"},       {59, 4, "246,941"},  {60, 5, "261,625"},  {69, 5, "440,000"},
                 {119, 9, "7902,134"},  {120, 10, "8372,019"}, {127, 10, "12543,855"},
                 {-1, -1, ""},          {128, -1, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(TKwMidi::GetOctave(c.note), c.octave) << c.note;
        EXPECT_EQ(TKwMidi::GetHz(c.note), c.hz) << c.note;
    }
}

TEST(KwMidi, SecondsOfALengthAndNumberTexts) {
    EXPECT_EQ(TKwMidi::GetSekundenOfLength("P4", 2), 0.75L);
    EXPECT_EQ(TKwMidi::GetSekundenOfLength("T2", 3), 1);
    EXPECT_EQ(TKwMidi::GetSekundenOfLength("D1", 4), 7);
    EXPECT_EQ(TKwMidi::GetSekundenOfLength("4", 2), 0.5L);
    EXPECT_EQ(TKwMidi::GetSekundenOfLength("unknown", 2), 2);

    struct Case {
        long double value;
        const char* text;
    } cases[] = {{1.5L, "1.500"},  {0.25L, "0.250"},     {0.05L, "0.050"},  {0, "0.000"},
                 {123.4567L, "123.456"}, {-1.5L, "-1.500"}, {-0.05L, "-0.050"}, {1e300L, ""}};
    for (const auto& c : cases) EXPECT_EQ(TKwMidi::LongToStr(c.value), c.text) << static_cast<double>(c.value);
}

TEST(KwMidi, InstrumentTableLooksUpByExactNameAndIndex) {
    std::vector<std::string> names{"kept"};
    TKwMidi::FillInstrumentList(names);
    ASSERT_EQ(names.size(), 81u);
    EXPECT_EQ(names[1], "Acoustic Grand Piano");
    EXPECT_EQ(names[80], "Ocarina");
    for (int i = 0; i < 80; ++i) {
        EXPECT_EQ(TKwMidi::GetStringInstrument(i), names[static_cast<size_t>(i) + 1]);
        EXPECT_EQ(TKwMidi::GetHexInstrument(names[static_cast<size_t>(i) + 1]), i);
    }
    EXPECT_EQ(TKwMidi::GetHexInstrument("Ocarina"), 79);
    EXPECT_EQ(TKwMidi::GetHexInstrument("ocarina"), 0);
    EXPECT_EQ(TKwMidi::GetHexInstrument("Violin"), 40);
    EXPECT_EQ(TKwMidi::GetStringInstrument(80), "");
    EXPECT_EQ(TKwMidi::GetStringInstrument(-1), "");
}

}  // namespace
