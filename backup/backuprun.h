// The backup run: packs every checked folder into an archive of its own in the destination folder.
#pragma once

#include "platform/filesystem.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TZipWriter;

namespace backup {

// How a run that raised no error ended.
enum class RunEnd {
    NotStarted,  // nothing was checked, or a question before the start was answered Cancel
    Left,        // cancelled while the writer returned normally: the rest stays checked
    Completed,   // every checked folder was packed
};

// The answers to the run's questions.
enum class Answer { Yes, No, Cancel };

// What one run is asked to do; the host reads it from its controls when the run starts.
struct Options {
    std::string destination;   // the folder the archives go to, normally ending in "/"
    bool deleteFirst = false;  // empty the destination first, after the deletion question
    bool datedNames = false;   // name the archives after the date, with a free number
    int packLevel = 9;         // the writer's PackLevel for every folder: 9, or 10 for the maximum level
    // test each new archive before it takes the earlier one's place; a failed test is an error
    // of the run (ETestFailed naming the archive and the entry) and the earlier archive stays
    bool verifyArchives = true;
    bool aes = false;          // with a password: AES-256 entries; else the traditional ZIP cipher
    // take the entries of unchanged files over from the folder's earlier archive (the one of the
    // same name, or with dated names the newest dated one) instead of packing them again
    bool incremental = true;
    unsigned threads = 0;      // files packed at a time; 0: one per processor online (at most 16)
};

// What became of one checked folder that was packed.
struct FolderResult {
    int index = 0;                     // the folder's item in the host's list
    std::string folder;                // the item's text
    std::string archivePath;           // where its archive now lies
    std::vector<std::string> leftOut;  // files left out of the archive or changed while packed, as reported
};

// What the run asks of its host (the main window) and tells it. Every call comes from inside
// Execute, on the host's thread; the list is read anew at each step, so that check marks set or
// cleared on later items while the run goes on are honoured.
class Host {
public:
    virtual ~Host() = default;
    virtual int FolderCount() = 0;
    virtual bool FolderChecked(int index) = 0;
    virtual std::string FolderText(int index) = 0;
    // The host's own questions before anything changes; false stops the run untouched.
    virtual bool MayStart() = 0;
    // The files the deletion step found in the destination, sorted by name.
    virtual void DestinationListed(const std::vector<std::string>& names) = 0;
    // The deletion question, worded by the run ("Do you really want to delete 2 files?").
    virtual Answer DeletionQuestion(const std::string& text) = 0;
    // Switches the host between its idle and running states.
    virtual void SetRunning(bool running) = 0;
    // The run begins to pack checkedCount folders.
    virtual void RunStarted(int checkedCount) = 0;
    // The done-th folder (1-based) is about to be packed into the archive of that name.
    virtual void FolderStarted(int done, const std::string& archiveName) = 0;
    // The password for the next archive (empty: none), asked for once per folder.
    virtual std::string Password() = 0;
    // A line for the run's log ("left out PATH: it is a named pipe").
    virtual void Report(const std::string& line) = 0;
    // A folder's archive is complete and in place.
    virtual void FolderPacked(const FolderResult& result) = 0;
    // Every checked folder is packed; SetRunning(false) follows.
    virtual void RunEnded() = 0;
};

// Drives the host's archive writer through one run after another. Errors leave Execute as
// exceptions (the writer's, platform::EFileError, std::runtime_error with the reason); the
// folder being packed then keeps its check mark and the host stays in its running state.
class Run {
public:
    // Installs the run's handlers of the writer's OnStartZip, OnSkippingFile and OnFileChanged
    // events; the writer's other events and its process-messages step stay the host's.
    Run(TZipWriter& writer, Host& host);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Today's date as the dated archive names carry it ("yyyy_mm_dd").
    std::function<std::string()> Today;

    // The whole run. Refuses to be entered again from inside itself (std::logic_error).
    RunEnd Execute(const Options& options);
    // The cancel request, for a handler that runs inside the writer's process-messages step:
    // the writer stops at its next check and fails with "User Aborted Operation".
    void Cancel();

    // Execute has not returned yet.
    bool Active() const { return active_; }
    // Cancel was requested during the current (or last) run.
    bool Cancelled() const { return cancelled_; }
    // The folders the current (or last) run has packed, in the order they were packed.
    const std::vector<FolderResult>& Results() const { return results_; }

private:
    // The deletion step: false when its question was answered Cancel.
    bool deleteDestinationFiles(const std::string& destination);
    // Packs one folder into destination + name through a hidden temporary file put in its place at the end.
    FolderResult packFolder(int index, const std::string& folder, const std::string& destination,
                            const std::string& name);

    TZipWriter& writer_;
    Host& host_;
    bool active_ = false;
    bool cancelled_ = false;
    int packLevel_ = 9;  // the run's level, taken from its options when it starts
    bool verifyArchives_ = true;  // the run's test after writing, from its options
    bool aes_ = false;   // the run's cipher, taken from its options when it starts
    bool incremental_ = true;  // the run's reuse of earlier archives, from its options
    bool datedNames_ = false;  // and its naming
    unsigned threads_ = 1;  // the writer's threads, from the run's options
    std::vector<FolderResult> results_;
    // The archive the folder being packed will replace; the writer leaves it out should the folder hold it.
    std::optional<platform::FileStatus> replacedArchive_;
    // The earlier archive of the folder its new archive takes unchanged entries from ("": none).
    std::string earlierArchive(const std::string& folder, const std::string& destination, const std::string& archivePath) const;
    // Files the writer has left out of the archive being written.
    std::vector<std::string> leftOut_;
};

}  // namespace backup
