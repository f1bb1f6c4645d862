// The command line and the program as a scheduler starts it: the real folvio without a display, its archives and its exit status.
#include "apptest.h"

#include <QLineEdit>
#include <QTimer>

namespace fs = std::filesystem;
using testsupport::shellQuote;
using testsupport::writeFile;

namespace {

using CommandLineTest = apptest::WindowTest;

TEST_F(CommandLineTest, OnlyTheFirstArgumentCountsAndOnlyAsItIsWritten) {
    struct Case {
        QStringList arguments;
        bool autoStart, autoStartClose;
    };
    const std::vector<Case> cases = {
        {{}, false, false},
        {{"/autostart"}, true, false},
        {{"-autostart"}, true, false},
        {{"/autostartclose"}, true, true},
        {{"-autostartclose"}, true, true},
        {{"-autostartclose", "ignored"}, true, true},
        {{"/AutoStart"}, false, false},
        {{"-AUTOSTARTCLOSE"}, false, false},
        {{"/autostart "}, false, false},
        {{"--autostart"}, false, false},
        {{"autostart"}, false, false},
        {{"backup.txt", "/autostart"}, false, false},
        {{"", "-autostartclose"}, false, false},
    };
    for (const Case& c : cases) {
        const std::string name = c.arguments.join(" | ").toStdString();
        restart();
        start(c.arguments);
        EXPECT_EQ(form().AutoStart, c.autoStart) << name;
        EXPECT_EQ(form().AutoStartClose, c.autoStartClose) << name;
        writeFile(listFile(), "");
        show();
        EXPECT_EQ(form().AutoStartTimer->isActive(), c.autoStart) << name << ": the showing arms the auto-start";
        form().AutoStartTimer->stop();
    }
}

TEST_F(CommandLineTest, AnAutoStartRunsHalfASecondAfterShowingAndTheProgramStaysOpen) {
    writeFile(dir / "src/A/file.txt", "data");
    fs::create_directories(dir / "dest");
    writeFile(listFile(), (dir / "src/A").string() + "/\r\n");
    start({"-autostart"});
    form().KwReg1.Push("DestDir", (dir / "dest").string() + "/");
    show();
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    QObject::connect(form().Edit2, &QLineEdit::textChanged, [&](const QString& text) {
        if (text.isEmpty()) stop.start(300);  // the run is over: give the program time to end, if it would
    });
    EXPECT_EQ(apptest::runProgramLoop(), 7) << "without the close switch the program stays";
    EXPECT_TRUE(fs::exists(dir / "dest/a.zip"));
    EXPECT_FALSE(form().AutoStartTimer->isActive()) << "the timer starts one run per showing";
    EXPECT_TRUE(boxes.asked.empty());
}

// The real program, started as a scheduler starts it: no display, a private registry and program folder.
class UnattendedProgramTest : public ::testing::Test {
protected:
    UnattendedProgramTest() {
        fs::create_directories(program);
        fs::create_directories(dest);
    }

    testsupport::CommandResult folvio(const std::string& arguments, const std::string& environment = "") const {
        return testsupport::runCommand(
            "cd " + shellQuote(dir.path().string()) +
            " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR " +
            environment + " MARVANE_REGISTRY_DIR=" + shellQuote((dir / "registry").string()) +
            " MARVANE_PROGRAM_DIR=" + shellQuote(program.string()) +
            " XDG_CONFIG_HOME=" + shellQuote((dir / "config").string()) + " HOME=" + shellQuote((dir / "home").string()) +
            " FOLVIO_NO_SHUTDOWN=1 timeout 60 " + shellQuote(FOLVIO_BINARY_DIR "/bin/folvio") + " " +
            arguments + " </dev/null");
    }
    // Sets a value as an administrator would, with folvio-reg.
    void setting(const std::string& name, const std::string& value) const {
        const testsupport::CommandResult r = testsupport::runCommand(
            "MARVANE_REGISTRY_DIR=" + shellQuote((dir / "registry").string()) + " " +
            shellQuote(FOLVIO_BINARY_DIR "/bin/folvio-reg") + " add 'HKCU\\Software\\Marvane\\Folvio' /v " + name +
            " /d " + shellQuote(value) + " /f");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    void listFolders(const std::vector<std::string>& folders) const {
        std::string text;
        for (const std::string& f : folders) text += (dir / "src" / f).string() + "/\r\n";
        writeFile(program / "data.mvo", text);
    }

    testsupport::TempDir dir;
    fs::path program = dir / "program";
    fs::path dest = dir / "dest";
};

TEST_F(UnattendedProgramTest, AutoStartCloseWritesBothArchivesWithThePasswordAndEndsWithStatusZero) {
    writeFile(dir / "src/Photos/2024/beach.jpg", std::string(50000, 'b'));
    writeFile(dir / "src/Photos/notes.txt", "notes");
    writeFile(dir / "src/Letters/a.txt", "dear");
    fs::create_directories(dir / "src/Letters/empty");
    writeFile(dest / "yesterday.zip", "old");
    listFolders({"Photos", "Letters"});
    setting("DestDir", dest.string() + "/");
    setting("DeleteFiles", "1");
    // The password as the window stores it: scrambled with the program's key.
    const std::string password = "night-shift 7";
    {
        testsupport::ScopedEnv registry("MARVANE_REGISTRY_DIR", (dir / "registry").string());
        TKwKeey scrambler;
        scrambler.SetProgrammID(11);
        scrambler.Schluessel = "vantorel";
        TKwReg("Marvane", "Folvio").Push("Password", scrambler.Encode(password));
    }

    const testsupport::CommandResult r = folvio("-autostartclose");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Confirmation: Do you really want to delete 1 files? [answered Yes]"), std::string::npos)
        << "the question goes to stderr and takes its default button:\n" << r.output;
    EXPECT_FALSE(fs::exists(dest / "yesterday.zip"));
    for (const char* archive : {"photos.zip", "letters.zip"})
        EXPECT_TRUE(apptest::unzipTests(dest / archive, password)) << archive;
    EXPECT_EQ(apptest::zipEntries(dest / "photos.zip", password),
              (std::vector<std::string>{"2024/", "2024/beach.jpg=" + std::string(50000, 'b'), "notes.txt=notes"}));
    EXPECT_EQ(apptest::zipEntries(dest / "letters.zip", password), (std::vector<std::string>{"a.txt=dear", "empty/"}));
    EXPECT_FALSE(apptest::unzipTests(dest / "letters.zip", "wrong")) << "the archives are encrypted";
}

TEST_F(UnattendedProgramTest, WithoutADisplayOnlyTheCloseSwitchRuns) {
    listFolders({});
    setting("DestDir", dest.string() + "/");
    struct Case {
        const char* name;
        std::string arguments, environment;
    };
    const std::vector<Case> cases = {
        {"no switch", "", ""},
        {"a switch that keeps the program open", "-autostart", ""},
        {"the close switch as second argument", "x -autostartclose", ""},
        {"an invisible platform asked for by name", "", "QT_QPA_PLATFORM=offscreen"},
    };
    for (const Case& c : cases) {
        const testsupport::CommandResult r = folvio(c.arguments, c.environment);
        EXPECT_EQ(r.exitCode, 2) << c.name << "\n" << r.output;
        EXPECT_NE(r.output.find("no display is available"), std::string::npos) << c.name << "\n" << r.output;
    }
}

TEST_F(UnattendedProgramTest, ADamagedHiveFailsTheRunByNameAndStaysForRepair) {
    writeFile(dir / "src/A/a.txt", "a");
    listFolders({"A"});
    setting("DestDir", dest.string() + "/");
    const fs::path hive = dir / "registry" / "HKEY_CURRENT_USER.db";
    writeFile(hive, "damaged\n");
    const testsupport::CommandResult r = folvio("-autostartclose");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    const std::string said = "the registry hive " + hive.string() + " is damaged";
    EXPECT_NE(r.output.find(said), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("folvio-reg repair"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Please choose a destination folder"), std::string::npos) << "not an empty setting: " << r.output;
    EXPECT_EQ(r.output.find("no folder is checked"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(said, r.output.find(said) + 1), std::string::npos) << "the run itself fails on it: " << r.output;
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_EQ(testsupport::readFile(hive), "damaged\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "registry"), fs::directory_iterator()), 1);
}

TEST_F(UnattendedProgramTest, HelpPrintsTheUsageOnStandardOutputWithOrWithoutADisplay) {
    struct Case {
        const char* name;
        std::string arguments, environment;
    };
    const std::vector<Case> cases = {
        {"--help without a display", "--help", ""},
        {"-h without a display", "-h", ""},
        {"--help on a platform that draws", "--help", "QT_QPA_PLATFORM=offscreen"},
    };
    for (const Case& c : cases) {
        // Standard error is dropped: the usage belongs on standard output.
        const testsupport::CommandResult r = folvio(c.arguments + " 2>/dev/null", c.environment);
        EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.output;
        for (const char* part : {"Usage: folvio", "-autostartclose", "/autostart", "Exit status", "FOLVIO_NO_SHUTDOWN",
                                 "MARVANE_REGISTRY_DIR"})
            EXPECT_NE(r.output.find(part), std::string::npos) << c.name << ": " << part << "\n" << r.output;
    }
    EXPECT_TRUE(fs::is_empty(dest)) << "no run started";
}

TEST_F(UnattendedProgramTest, ARunThatCannotPackEndsWithStatusOneAndSaysWhyOnStderr) {
    writeFile(dir / "src/A/a.txt", "a");
    struct Case {
        const char* name;
        std::string list;        // the list file's content; none when empty
        std::string destination;
        std::string said;
    };
    const std::string gone = (dir / "gone").string() + "/";
    const std::vector<Case> cases = {
        {"the destination is gone", (dir / "src/A").string() + "/\r\n", gone,
         "Marvane Folvio: The destination folder \"" + gone + "\" does not exist."},
        {"no destination set", (dir / "src/A").string() + "/\r\n", "",
         "Marvane Folvio: Please choose a destination folder with \"Browse ...\" first."},
        {"no list file", "", dest.string() + "/", "no folder is checked: nothing was backed up"},
    };
    for (const Case& c : cases) {
        fs::remove(program / "data.mvo");
        if (!c.list.empty()) writeFile(program / "data.mvo", c.list);
        setting("DestDir", c.destination);
        const testsupport::CommandResult r = folvio("/autostartclose");
        EXPECT_EQ(r.exitCode, 1) << c.name << "\n" << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << c.name << "\n" << r.output;
        EXPECT_TRUE(fs::is_empty(dest)) << c.name;
    }
}

}  // namespace
