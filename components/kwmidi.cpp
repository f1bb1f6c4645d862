#include "components/kwmidi.h"

#include "platform/atomicfile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace {

struct LengthCode {
    std::string_view code;
    int numerator, denominator;  // fraction of a whole note
};

// "T" is a triplet (2/3 of the plain value), "P" dotted (3/2), "D" double-dotted (7/4).
constexpr std::array<LengthCode, 24> kLengths{{
    {"1", 1, 1},    {"2", 1, 2},     {"4", 1, 4},     {"8", 1, 8},     {"16", 1, 16},   {"32", 1, 32},
    {"T1", 2, 3},   {"T2", 1, 3},    {"T4", 1, 6},    {"T8", 1, 12},   {"T16", 1, 24},  {"T32", 1, 48},
    {"P1", 3, 2},   {"P2", 3, 4},    {"P4", 3, 8},    {"P8", 3, 16},   {"P16", 3, 32},  {"P32", 3, 64},
    {"D1", 7, 4},   {"D2", 7, 8},    {"D4", 7, 16},   {"D8", 7, 32},   {"D16", 7, 64},  {"D32", 7, 128},
}};

constexpr int kTicksPerWholeNote = 4 * 768;

const LengthCode* findLength(const std::string& code) {
    for (const auto& l : kLengths)
        if (l.code == code) return &l;
    return nullptr;
}

constexpr std::array<std::string_view, 80> kInstruments{
    "Acoustic Grand Piano", "Bright Acoustic Piano", "Electric Grand Piano", "Honky-Tonk Piano",
    "Electric Piano 1", "Electric Piano 2", "Harpsichord", "Clavichord", "Celesta", "Chime",
    "Music Box", "Vibraphon", "Marimba", "Xylophon", "Tubular Bells", "Dulcimer", "Drawbar Organ",
    "Percussive Organ", "Rock Organ", "Church Organ", "Reed Organ", "Akkordion", "Harmonica",
    "Tango Akkordion", "Acoustic Guitar (nylon)", "Acoustic Guitar (steel)", "Acoustic Guitar (Jazz)",
    "Acoustic Guitar (clean)", "Acoustic Guitar (muted)", "Overdriven Guitar", "Distortion",
    "Guitar Harmonics", "Acoustic Bass", "Electric Bass (finger)", "Electric Bass (pick)",
    "Fretless Bass", "Slap Bass 1", "Slap Bass 2", "Synth Bass 1", "Synth Bass 2", "Violin", "Viola",
    "Cello", "Contrabass", "Strings (tremolo)", "Strings (pizzicato)", "Orchestral Harp", "Timpani",
    "String Ensemble 1", "String Ensemble 2", "Synth Strings 1", "Synth Strings 2", "Choirs Aahs",
    "Voice Oohs", "Synth Voice", "Orchestra Hit", "Trumpet", "Trombone", "Tuba", "Trumpet (muted)",
    "French Horn", "Brass Section", "Synth Brass 1", "Synth Brass 2", "Soprano Sax", "Alto Sax",
    "Tenor Sax", "Baritone Sax", "Oboe", "English Horn", "Bassoon", "Clarinet", "Piccolo", "Flute",
    "Recorder", "Pan Flute", "Blown Bottle", "Shakuhachi", "Whistle", "Ocarina",
};

// Frequencies of C and C sharp in octaves 0 to 10.
constexpr std::array<long double, 11> kC{8.1758L,    16.3516L,   32.7032L,   65.4064L,
                                         130.8128L,  261.6256L,  523.2512L,  1046.5025L,
                                         2093.0049L, 4186.0098L, 8372.0196L};
constexpr std::array<long double, 11> kCSharp{8.662L,      17.3239L,   34.6478L,   69.2957L,
                                              138.5913L,   277.1827L,  554.3654L,  1108.7307L,
                                              2217.4614L,  4434.9229L, 8869.8457L};

// Past this the number is too large anyway; well inside long on both platforms (32 bits on Windows).
constexpr long kIntegerCap = 1L << 30;

// The leading integer of a text (after blanks and a sign), 0 when there is none.
long leadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = std::min(value * 10 + (s[i] - '0'), kIntegerCap);
    return negative ? -value : value;
}

// A whole text as an integer, as a velocity must be; throws std::invalid_argument otherwise.
long strictInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t digitsFrom = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digitsFrom || i != s.size())
        throw std::invalid_argument("'" + s + "' is not a valid integer value");
    return leadingInteger(s);
}

uint8_t dataByte(long value, const char* what, const std::string& text) {
    if (value < 0 || value > 127)
        throw std::invalid_argument(std::string(what) + " '" + text + "' is outside 0 to 127");
    return static_cast<uint8_t>(value);
}

// The MIDI variable-length quantity of a tick count.
std::string variableLength(uint32_t ticks) {
    std::string bytes(1, static_cast<char>(ticks & 0x7F));
    while ((ticks >>= 7) != 0) bytes.insert(bytes.begin(), static_cast<char>(0x80 | (ticks & 0x7F)));
    return bytes;
}

void put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// Digits of a non-negative integer, padded to four, with separator before the last three.
std::string withThreeDecimals(uint64_t value, char separator) {
    std::string digits = std::to_string(value);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    digits.insert(digits.size() - 3, 1, separator);
    return digits;
}

}  // namespace

TKwMidi::NoteStore& TKwMidi::sharedStore() {
    static NoteStore s;
    return s;
}

TKwMidi::TKwMidi(StoreKind kind) {
    if (kind == StoreKind::Own) own_.emplace();
}

void TKwMidi::AddNote(const std::string& notes, const std::string& length, const std::string& velocity) {
    store().notes.push_back(notes);
    store().lengths.push_back(length);
    store().velocities.push_back(velocity);
}

void TKwMidi::DeleteNote(int index) {
    auto& s = store();
    if (index < 0 || static_cast<size_t>(index) >= s.notes.size())
        throw std::out_of_range("note index " + std::to_string(index) + " out of bounds");
    s.notes.erase(s.notes.begin() + index);
    s.lengths.erase(s.lengths.begin() + index);
    s.velocities.erase(s.velocities.begin() + index);
}

void TKwMidi::ClearNotes() {
    store().notes.clear();
    store().lengths.clear();
    store().velocities.clear();
}

int TKwMidi::LengthTicks(const std::string& length) {
    const LengthCode* l = findLength(length);
    return l ? kTicksPerWholeNote * l->numerator / l->denominator : kTicksPerWholeNote;
}

void TKwMidi::ExtractNotes(const std::string& text, std::vector<std::string>& list) {
    list.clear();
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        list.push_back(text.substr(start, comma - start));
    if (start < text.size()) list.push_back(text.substr(start));
}

int TKwMidi::CountBytes() const {
    const auto& s = store();
    int bytes = 4;  // end of track
    std::vector<std::string> pieces;
    for (size_t i = 0; i < s.notes.size(); ++i) {
        ExtractNotes(s.notes[i], pieces);
        if (pieces.empty()) continue;  // refused when written
        bytes += 8 * static_cast<int>(pieces.size()) - 1 +
                 static_cast<int>(variableLength(static_cast<uint32_t>(LengthTicks(s.lengths[i]))).size());
    }
    return bytes;
}

void TKwMidi::NoteOnEvent(std::ostream& file, const std::string& length, const std::string& velocity,
                          const std::string& notes) {
    std::vector<std::string> pieces;
    ExtractNotes(notes, pieces);
    if (pieces.empty()) throw std::invalid_argument("note group '" + notes + "' has no notes");
    const char vel = static_cast<char>(dataByte(strictInteger(velocity), "velocity", velocity));
    std::vector<char> keys;
    for (const auto& piece : pieces) keys.push_back(static_cast<char>(dataByte(leadingInteger(piece), "note", piece)));

    std::string events;
    for (char key : keys) events += {'\x00', '\x90', key, vel};
    events += variableLength(static_cast<uint32_t>(LengthTicks(length)));
    events += {'\x80', keys[0], vel};
    for (size_t i = 1; i < keys.size(); ++i) events += {'\x00', '\x80', keys[i], vel};
    file.write(events.data(), static_cast<std::streamsize>(events.size()));
}

bool TKwMidi::WriteMidiFile(const std::string& fileName) {
    const auto& s = store();
    // The note track first, so that a refused entry throws before the file is touched.
    std::ostringstream track;
    for (size_t i = 0; i < s.notes.size(); ++i) NoteOnEvent(track, s.lengths[i], s.velocities[i], s.notes[i]);
    track.write("\x00\xFF\x2F\x00", 4);
    const std::string events = track.str();

    std::string bytes("MThd\x00\x00\x00\x06\x00\x01\x00\x03\x03\x00", 14);
    bytes += std::string("MTrk\x00\x00\x00\x13", 8);
    bytes += std::string("\x00\xFF\x58\x04\x04\x02\x18\x08", 8);  // 4/4, 24 clocks per click, 8 32nds per quarter
    bytes += std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7);      // 500000 us per quarter note
    bytes += std::string("\x00\xFF\x2F\x00", 4);
    bytes += "MTrk";
    put32(bytes, static_cast<uint32_t>(events.size()));
    bytes += events;
    bytes += std::string("MTrk\x00\x00\x00\x09", 8);
    bytes += std::string("\x00\xFF\x20\x01\x01", 5);  // MIDI channel prefix
    bytes += std::string("\x00\xFF\x2F\x00", 4);

    // A new file put in place whole, so that a failed write keeps the earlier file.
    return platform::replaceFileContent(fileName, bytes);
}

int TKwMidi::GetOctave(int note) {
    if (note < 0 || note > 127) return -1;
    return note >= 120 ? 10 : note / 12;
}

std::string TKwMidi::GetHz(int note) {
    const int octave = GetOctave(note);
    if (octave < 0) return "";
    const long double c = kC[static_cast<size_t>(octave)];
    const long double ratio = kCSharp[static_cast<size_t>(octave)] / c;
    const long double hz = c * std::pow(ratio, static_cast<long double>(note % 12));
    return withThreeDecimals(static_cast<uint64_t>(std::trunc(hz * 1000)), ',');
}

long double TKwMidi::GetSekundenOfLength(const std::string& length, long double wholeNoteSeconds) {
    const LengthCode* l = findLength(length);
    if (!l) return wholeNoteSeconds;
    return wholeNoteSeconds * l->numerator / l->denominator;
}

std::string TKwMidi::LongToStr(long double value) {
    const long double scaled = std::trunc(value * 1000);
    if (!(std::fabs(scaled) < 9.2e18L)) return "";
    const auto v = static_cast<int64_t>(scaled);
    const std::string text = withThreeDecimals(static_cast<uint64_t>(v < 0 ? -v : v), '.');
    return v < 0 ? "-" + text : text;
}

void TKwMidi::FillInstrumentList(std::vector<std::string>& strings) {
    for (auto name : kInstruments) strings.emplace_back(name);
}

int TKwMidi::GetHexInstrument(const std::string& name) {
    for (size_t i = 0; i < kInstruments.size(); ++i)
        if (kInstruments[i] == name) return static_cast<int>(i);
    return 0;
}

std::string TKwMidi::GetStringInstrument(int index) {
    if (index < 0 || static_cast<size_t>(index) >= kInstruments.size()) return "";
    return std::string(kInstruments[static_cast<size_t>(index)]);
}
