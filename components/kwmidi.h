// MIDI file writer: a store of note groups written as a Standard MIDI File, with music helpers.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// A TKwMidi works on a note store: one entry per note group, each a notes text ("60" or a chord
// "60,64,67"), a length code ("4", "T8", "P2", "D16", ...) and a velocity text ("100").
class TKwMidi {
public:
    // Which store a component works on: the one note store of the program, shared by every
    // component made so (the default), or one of its own that no other component sees (a copy
    // of such a component takes a copy of its notes along).
    enum class StoreKind { Shared, Own };

    explicit TKwMidi(StoreKind kind = StoreKind::Shared);
    bool OwnsStore() const { return own_.has_value(); }

    // Appends a note group.
    void AddNote(const std::string& notes, const std::string& length, const std::string& velocity);
    // Removes the note group at index; throws std::out_of_range for an index that has none.
    void DeleteNote(int index);
    void ClearNotes();

    // The store, read-only: notes, lengths and velocities share their indexes.
    const std::vector<std::string>& Notes() const { return store().notes; }
    const std::vector<std::string>& Lengths() const { return store().lengths; }
    const std::vector<std::string>& Velocities() const { return store().velocities; }

    // Writes the whole store as a format-1 Standard MIDI File (768 ticks per quarter note),
    // replacing an existing file. Every entry is checked first: a velocity that is not an
    // integer, a group without notes, or a key or velocity outside 0 to 127 throws
    // std::invalid_argument and leaves the file untouched. Returns false, leaving an earlier
    // file as it was and no partial one, when the file cannot be written.
    bool WriteMidiFile(const std::string& fileName);

    // Clears list and fills it with the pieces of text between ","; the piece after the last
    // "," is added only when it is not empty.
    static void ExtractNotes(const std::string& text, std::vector<std::string>& list);
    // Bytes of the note track's events, its end-of-track event included.
    int CountBytes() const;
    // Writes the events of one note group on channel 1; throws std::invalid_argument for the
    // entries WriteMidiFile refuses.
    static void NoteOnEvent(std::ostream& file, const std::string& length, const std::string& velocity,
                            const std::string& notes);

    // Octave of a note: note div 12, 10 for notes 120 to 127, -1 outside 0 to 127.
    static int GetOctave(int note);
    // Frequency in Hz with three decimals after "," ("440,000" for note 69); empty outside 0 to 127.
    static std::string GetHz(int note);
    // wholeNoteSeconds times the fraction of a whole note the length code stands for.
    static long double GetSekundenOfLength(const std::string& length, long double wholeNoteSeconds);
    // The value with three decimals after "." and at least one digit before it ("1.500", "-0.250");
    // empty for a value beyond 64-bit range after scaling or not a number.
    static std::string LongToStr(long double value);

    // Appends the 80 instrument names in program-number order.
    static void FillInstrumentList(std::vector<std::string>& strings);
    // Program number of the instrument with exactly that name; 0 when none has it.
    static int GetHexInstrument(const std::string& name);
    // Name of the instrument with that program number; empty for any other number.
    static std::string GetStringInstrument(int index);

    // Ticks of a length code at 768 ticks per quarter note; any unknown code is a whole note.
    static int LengthTicks(const std::string& length);

private:
    struct NoteStore {
        std::vector<std::string> notes, lengths, velocities;
    };
    // The program's note store, made on first use and living until the program ends.
    static NoteStore& sharedStore();
    NoteStore& store() { return own_ ? *own_ : sharedStore(); }
    const NoteStore& store() const { return own_ ? *own_ : sharedStore(); }

    std::optional<NoteStore> own_;  // the component's own store; empty for one on the program's store
};
