// End-to-end tests of notice.exe: each row starts the real program with an
// exact command line, reads its box back, dismisses it and checks the exit.
//
//   notice_e2e [--code-page=N]   boxes on the current desktop; N is the ANSI
//                                code page the run is meant to have
//   notice_e2e --no-display      no box can be shown: the program must still end
//   notice_e2e --examples        the recipes of examples/, as the build made them,
//                                started through their own callers
//   notice_e2e --planted-dll     a DLL planted beside notice.exe is never loaded
//   ... --wow64                  the run is meant for 32-bit code on 64-bit Windows
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "e2e/notice_process.h"
#include "notice/notice.h"

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 20000;
constexpr DWORD EXIT_TIMEOUT_MS = 20000;
constexpr DWORD UNSEEN_EXIT_TIMEOUT_MS = 10000;
constexpr DWORD CALLER_TIMEOUT_MS = 60000;  // installers take their time under Wine
constexpr std::size_t MAX_SHOWN_LENGTH = 80;

// Each run of the program tests one of these; the tests of the others skip.
enum class Mode { Boxes, NoDisplay, Examples, PlantedDll };
Mode g_mode = Mode::Boxes;
UINT g_expectedCodePage = 0;  // 0: any
bool g_expectWow64 = false;

struct Row {
    std::string commandLine;
    std::string text;
    std::string caption;
    Dismissal dismissal = Dismissal::OkButton;
};

std::string Describe(const Row& row) {
    std::string printable;
    for (char c : row.commandLine) {
        const auto b = static_cast<unsigned char>(c);
        char szHex[8];
        snprintf(szHex, sizeof szHex, "\\x%02X", b);
        printable += (b >= 0x20 && b < 0x7F) ? std::string(1, c) : szHex;
    }
    if (printable.size() > MAX_SHOWN_LENGTH) {
        printable.resize(MAX_SHOWN_LENGTH);
        printable += "... (" + std::to_string(row.commandLine.size()) + " bytes)";
    }
    return "command line <" + printable + ">, dismissed by " + DismissalName(row.dismissal);
}

void ExpectBoxMatches(HWND box, const Row& row) {
    const BoxView view = ReadBox(box);
    EXPECT_EQ(view.text, row.text);
    EXPECT_EQ(view.caption, row.caption);
    ASSERT_EQ(view.buttons.size(), 1u);
    EXPECT_EQ(view.buttons[0].id, IDOK);
    EXPECT_EQ(view.buttons[0].text, "OK");
    EXPECT_TRUE(view.hasErrorIcon);
    EXPECT_FALSE(view.hasOwner);
    EXPECT_FALSE(view.isTopmost);
}

// Starts every row first: a process that showed a window takes a while to end,
// so the rows overlap instead of waiting on one another.
void RunRows(const std::vector<Row>& rows) {
    if (g_mode != Mode::Boxes) {
        GTEST_SKIP() << "only when boxes are tested";
    }
    const std::string program = NoticeProgramPath();
    std::vector<std::unique_ptr<NoticeProcess>> processes;
    processes.reserve(rows.size());
    for (const Row& row : rows) {
        processes.push_back(std::make_unique<NoticeProcess>(program, row.commandLine));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(rows[i]));
        ASSERT_TRUE(processes[i]->Started()) << "cannot start " << program << ", error " << GetLastError();
        const HWND box = processes[i]->WaitForBox(BOX_TIMEOUT_MS);
        ASSERT_NE(box, nullptr) << "no box appeared";
        ExpectBoxMatches(box, rows[i]);
        EXPECT_TRUE(DismissBox(box, rows[i].dismissal));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(rows[i]));
        DWORD exitCode = 1;
        ASSERT_TRUE(processes[i]->WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << "still running";
        EXPECT_EQ(exitCode, 0u);
    }
}

TEST(NoticeBox, ShowsTheBuiltInNoticeForAnEmptyTail) {
    RunRows({
        {"notice.exe", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},
        {"notice.exe   ", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},
    });
}

TEST(NoticeBox, CutsTheProgramNameOffAsWritten) {
    RunRows({
        {R"("C:\Program Files\Tools\x.exe"   Disk full,Setup)", "Disk full", "Setup"},
        {R"("x"Hi)", "Hi", DEFAULT_NOTICE_CAPTION},
        {R"("x Hi,There)", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},  // unclosed quote
        {"x\tHi,There", "Hi", "There"},
        {"x a ,b ", "a ", "b "},
        {R"(x "Hello, World")", "\"Hello", " World\""},
    });
}

// Words, so that the box wraps them and stays on the screen: 3060 bytes.
std::string LongText() {
    std::string text;
    for (int i = 0; i < 340; ++i) {
        text += "overlong ";
    }
    return text;
}

TEST(NoticeBox, TranslatesEscapesAndSplitsAtTheFirstComma) {
    const std::string longText = LongText();
    RunRows({
        {R"(x Cannot continue\nSee setup.log,Setup)", "Cannot continue\nSee setup.log", "Setup"},
        {R"(x C:\\Temp\\a\,b,\\share\x)", R"(C:\Temp\a,b)", R"(\sharex)"},
        {"x " + longText + ",Setup", longText.substr(0, NOTICE_TEXT_SIZE - 1), "Setup"},
    });
}

TEST(NoticeBox, EndsWithStatusZeroHoweverItIsDismissed) {
    RunRows({
        {"x OK,Button", "OK", "Button", Dismissal::OkButton},
        {"x Escape,Key", "Escape", "Key", Dismissal::EscapeKey},
        {"x Close,Command", "Close", "Command", Dismissal::CloseCommand},
    });
}

// The quote after 0x81 belongs to a double-byte character exactly when the
// system says 0x81 is a lead byte; the program must follow the system.
TEST(NoticeBox, FollowsTheSystemsLeadBytes) {
    CPINFO info = {};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (g_expectedCodePage != 0) {
        ASSERT_EQ(GetACP(), g_expectedCodePage) << "the run was meant for another ANSI code page";
        EXPECT_EQ(info.LeadByte[0] != 0, g_expectedCodePage == 932) << "lead bytes as GetCPInfo reports them";
    }
    const bool dbcs = IsDBCSLeadByteEx(GetACP(), 0x81);
    std::vector<Row> rows = {
        {"\"x\x81\" Hi", dbcs ? DEFAULT_NOTICE_TEXT : "Hi", DEFAULT_NOTICE_CAPTION},
        {"\"x\x81\"\" Hi", dbcs ? "Hi" : "\" Hi", DEFAULT_NOTICE_CAPTION},
    };
    if (GetACP() == 932) {
        // A folder named in katakana, and a caption in katakana: tesuto.
        rows.push_back({"\"C:\\\x83\x63\x81\x5B\x83\x8B\\x.exe\" Hi,\x83\x65\x83\x58\x83\x67", "Hi",
                        "\x83\x65\x83\x58\x83\x67"});
    }
    RunRows(rows);
}

// A window station of its own that is never shown, like the one that a
// service's children get, with a desktop in it.
class HiddenDesktop {
   public:
    static constexpr const char* NAME = "notice-hidden\\desktop";

    HiddenDesktop() : station_(CreateWindowStationA("notice-hidden", 0, WINSTA_ALL_ACCESS, nullptr)) {
        // A desktop is made in the window station of the process that makes it.
        const HWINSTA own = GetProcessWindowStation();
        if (station_ != nullptr && SetProcessWindowStation(station_)) {
            desktop_ = CreateDesktopA("desktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
            SetProcessWindowStation(own);
        }
    }
    ~HiddenDesktop() {
        if (desktop_ != nullptr) {
            CloseDesktop(desktop_);
        }
        if (station_ != nullptr) {
            CloseWindowStation(station_);
        }
    }
    HiddenDesktop(const HiddenDesktop&) = delete;
    HiddenDesktop& operator=(const HiddenDesktop&) = delete;

    bool Made() const {
        return desktop_ != nullptr;
    }

   private:
    HWINSTA station_;
    HDESK desktop_ = nullptr;
};

// Nobody could ever press OK there: the program must not wait for it.
TEST(HiddenWindowStation, EndsAtOnceWithStatusZero) {
    if (g_mode != Mode::Boxes) {
        GTEST_SKIP() << "only when boxes are tested: without a display no box could be made anywhere";
    }
    const HiddenDesktop hidden;
    ASSERT_TRUE(hidden.Made()) << "cannot make a hidden desktop, error " << GetLastError();
    NoticeProcess process(NoticeProgramPath(), "notice.exe Nobody,Sees", HiddenDesktop::NAME);
    ASSERT_TRUE(process.Started()) << "error " << GetLastError();
    EXPECT_EQ(process.WaitForBox(UNSEEN_EXIT_TIMEOUT_MS), nullptr) << "a box appeared on the visible desktop";
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(0, &exitCode)) << "waited for a box nobody can see";
    EXPECT_EQ(exitCode, 0u);
}

TEST(NoDisplay, EndsPromptlyWithStatusZero) {
    if (g_mode != Mode::NoDisplay) {
        GTEST_SKIP() << "only with --no-display";
    }
    NoticeProcess process(NoticeProgramPath(), "notice.exe Cannot,Show");
    ASSERT_TRUE(process.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << "waited for a box nobody can see";
    EXPECT_EQ(exitCode, 0u);
}

// Runs a caller (an installer, msiexec, cmd.exe) to its end and returns its status.
DWORD RunCaller(const std::string& commandLine) {
    const NoticeProcess caller("", commandLine);
    DWORD exitCode = 1;
    EXPECT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << commandLine << ": still running";
    return exitCode;
}

// The caller must start notice.exe, which shows what the recipe meant; once
// the box is dismissed, the caller's own check of notice.exe must pass.
void RunRecipe(const std::string& commandLine, const std::string& text, const std::string& caption) {
    SCOPED_TRACE(commandLine);
    const NoticeProcess caller("", commandLine);
    ASSERT_TRUE(caller.Started()) << "cannot start the caller, error " << GetLastError();
    const std::unique_ptr<NoticeProcess> notice = caller.WaitForNoticeStarted(CALLER_TIMEOUT_MS);
    ASSERT_NE(notice, nullptr) << "the caller started no notice.exe";
    const HWND box = notice->WaitForBox(BOX_TIMEOUT_MS);
    ASSERT_NE(box, nullptr) << "no box appeared";
    ExpectBoxMatches(box, {commandLine, text, caption});
    EXPECT_TRUE(DismissBox(box, Dismissal::OkButton));
    DWORD exitCode = 1;
    ASSERT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << "the caller is still running";
    EXPECT_EQ(exitCode, 0u) << "the caller's check of notice.exe failed";
}

// Where the build put the recipe of FOLDER, with the file NAME.
std::string RecipePath(const char* folder, const char* name) {
    return "\"" + ProgramFolder() + "examples\\" + folder + "\\" + name + "\"";
}

class Recipe : public testing::Test {
   protected:
    void SetUp() override {
        if (g_mode != Mode::Examples) {
            GTEST_SKIP() << "only with --examples";
        }
    }
};

const char NSIS_TEXT[] = "Setup needs $20 of disk space.\nFree it on C:\\Temp, then retry.\nSee setup.log";

TEST_F(Recipe, NsisAnsi) {
    RunRecipe(RecipePath("nsis-ansi", "notice-setup.exe") + " /S", NSIS_TEXT, "Notice Example Setup");
}

TEST_F(Recipe, NsisUnicode) {
    RunRecipe(RecipePath("nsis-unicode", "notice-setup.exe") + " /S", NSIS_TEXT, "Notice Example Setup");
}

TEST_F(Recipe, Msi) {
    const std::string package = RecipePath("msi", "notice.msi");
    RunCaller("msiexec /x " + package + " /qn");  // left over from a run that failed
    RunRecipe("msiexec /i " + package + " /qn", "Notice Example needs [20 MB] more.\nSee setup.log",
              "Notice Example Setup");
    EXPECT_EQ(RunCaller("msiexec /x " + package + " /qn"), 0u) << "cannot remove the package again";
}

TEST_F(Recipe, Batch) {
    RunRecipe("cmd.exe /c " + RecipePath("batch", "notice.cmd"),
              "Tom & Jerry: 100% done.\nSee C:\\Temp\\setup.log", "Notice Example Batch");
}

// Runs PROGRAM from the folder where uxtheme.dll is planted, presses OK in
// its box, and tells whether the planted DLL was loaded meanwhile.
bool LoadsPlantedDll(const char* program) {
    const std::string folder = ProgramFolder() + "planted\\";
    const std::string marker = folder + "planted-dll-loaded";
    DeleteFileA(marker.c_str());
    const NoticeProcess process(folder + program, std::string(program) + " Planted,DLL");
    EXPECT_TRUE(process.Started()) << program << ": cannot start, error " << GetLastError();
    const HWND box = process.WaitForBox(BOX_TIMEOUT_MS);
    EXPECT_NE(box, nullptr) << program << ": no box appeared";
    if (box != nullptr) {
        DismissBox(box, Dismissal::OkButton);
    }
    DWORD exitCode = 1;
    EXPECT_TRUE(process.WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << program << ": still running";
    return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(PlantedDll, IsNeverLoaded) {
    if (g_mode != Mode::PlantedDll) {
        GTEST_SKIP() << "only with --planted-dll";
    }
    ASSERT_TRUE(LoadsPlantedDll("plain_box.exe")) << "the probe is broken: a plain program did not load it";
    EXPECT_FALSE(LoadsPlantedDll("notice.exe")) << "notice.exe loaded the DLL planted beside it";
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-display") == 0) {
            g_mode = Mode::NoDisplay;
        } else if (std::strcmp(argv[i], "--examples") == 0) {
            g_mode = Mode::Examples;
        } else if (std::strcmp(argv[i], "--planted-dll") == 0) {
            g_mode = Mode::PlantedDll;
        } else if (std::strcmp(argv[i], "--wow64") == 0) {
            g_expectWow64 = true;
        } else if (std::strncmp(argv[i], "--code-page=", 12) == 0) {
            g_expectedCodePage = static_cast<UINT>(std::strtoul(argv[i] + 12, nullptr, 10));
        } else {
            fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
    }
    // A run meant for 64-bit Windows that is not on it would prove nothing.
    BOOL wow64 = FALSE;
    if (g_expectWow64 && !(IsWow64Process(GetCurrentProcess(), &wow64) && wow64)) {
        fputs("meant to run as a 32-bit process on 64-bit Windows, but is not\n", stderr);
        return 2;
    }
    return RUN_ALL_TESTS();
}
