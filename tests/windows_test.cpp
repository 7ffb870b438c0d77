// What only Windows has: a run ended by TerminateProcess, access lists and attributes.
#include "support.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#include <sddl.h>

// A file's access list in the system's own text (SDDL).
static std::string accessList(const std::string& path)
{
    char descriptor[4096];
    DWORD size = 0;
    LPSTR text = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &size) || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "(unreadable)";
    const std::string list = text;
    LocalFree(text);
    return list;
}

// A run ended from outside (TerminateProcess, as taskkill /F does) leaves nothing behind, while
// it writes and while its rename waits for an older output that another program holds: the new
// file is hidden, marked for deletion and its owner's alone until it takes its name.
TEST_F(InTempDir, KilledRunLeavesNothing)
{
    writeFile("out.fit", OLDER);
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "killed while the rename waits" : "killed while writing");
        if (held)
            writeFile("in.kvr", picture(2, 2));
        else
            writeSparsePicture("in.kvr", 32768, 32768);
        const HANDLE holder = CreateFileA("out.fit", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (!held)
            CloseHandle(holder);
        const HANDLE child = (HANDLE)_wspawnl(_P_NOWAIT, fs::absolute(TORVAN_PATH).wstring().c_str(),
                                            L"torvan", L"in.kvr", L"out.fit", nullptr);
        ASSERT_NE(child, INVALID_HANDLE_VALUE);
        std::error_code gone;   // complete, when held
        for (int waited = 0; waited < 1000 && (listing().size() < 3 ||
             (held && fs::file_size(fs::u8path(listing()[0]), gone) != 5760)); waited++)
            Sleep(10);
        EXPECT_EQ(listing().size(), 3u) << "the new file, beside in.kvr and out.fit";
        for (const char* other : {";WD)", ";BU)", ";AU)"})   // everyone, users, any signed-in user
            EXPECT_TRUE(held || accessList(listing()[0]).find(other) == std::string::npos) << other;
        Sleep(held ? 300 : 0);   // well into the second of attempts
        TerminateProcess(child, 1);
        WaitForSingleObject(child, INFINITE);
        CloseHandle(child);
        for (int waited = 0; waited < 500 && listing().size() > 2; waited++)
            Sleep(10);
        EXPECT_EQ(listing(), (std::vector<std::string>{"in.kvr", "out.fit"}));
        if (held) {   // held to the end, the rename is refused: the open message
            EXPECT_EQ(run(PROGRAM, "in.kvr out.fit").output, BANNER + failed(OPEN, "out.fit") + FAILED);
            CloseHandle(holder);
        }
        EXPECT_EQ(readFile("out.fit"), OLDER);
    }
}

// A replaced output keeps its access list and attributes; a new one gets what any new file
// in its folder gets.
TEST_F(InTempDir, OutputKeepsItsAccessListAndAttributes)
{
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    PSECURITY_DESCRIPTOR own = nullptr;
    writeFile("in.kvr", picture(2, 2));
    writeFile("any.fit", "");
    writeFile("kept.fit", OLDER);
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;FA;;;SY)(A;;FA;;;OW)(A;;FRFW;;;WD)", SDDL_REVISION_1, &own, nullptr));
    ASSERT_TRUE(SetFileSecurityA("kept.fit", DACL_SECURITY_INFORMATION, own));
    LocalFree(own);
    ASSERT_TRUE(SetFileAttributesA("kept.fit", hiddenSystem));
    const std::string kept = accessList("kept.fit");
    EXPECT_NE(kept, accessList("any.fit")) << kept;
    for (const char* out : {"kept.fit", "new.fit"})
        EXPECT_EQ(run(PROGRAM, std::string("in.kvr ") + out).status, 0) << out;
    EXPECT_EQ(accessList("kept.fit"), kept);
    EXPECT_EQ(GetFileAttributesA("kept.fit") & hiddenSystem, hiddenSystem);
    EXPECT_EQ(accessList("new.fit"), accessList("any.fit"));
    EXPECT_EQ(GetFileAttributesA("new.fit") & hiddenSystem, 0u);
    // A folder that passes on everyone's read: kvr2fits's new output takes it too.
    fs::create_directory("f");
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;OW)(A;OICI;FR;;;WD)", SDDL_REVISION_1, &own, nullptr));
    ASSERT_TRUE(SetFileSecurityA("f", DACL_SECURITY_INFORMATION, own));
    LocalFree(own);
    writeFile("f/any.fit", "");
    EXPECT_EQ(run(KVR2FITS, "-q in.kvr f 2>&1").status, 0);
    EXPECT_EQ(accessList("f/in.fit"), accessList("f/any.fit"));
}
// Frames named like devices are files: read, never a port; a wildcard matches long names only,
// not the short names FAT gives every file; the folder in its \\?\ form is listed; a path the
// program joins takes a backslash, in the COMMENT card too.
TEST_F(InTempDir, NightOfWindowsNames)
{
    const std::string n = "\\\\?\\" + fs::absolute("n").u8string();
    fs::create_directory("n");
    for (const char* name : {"com1.kvr", "aux.kvr", "nul.kvr", "c.kvrx", "f.kvr_old"})
        writeFile(n + "\\" + name, picture(1, 1));
    for (const std::string& sources : {"\"" + n + "\"", std::string("n\\*.kvr")}) {
        const Outcome outcome = run(KVR2FITS, "-q " + sources + " out 2>&1");
        EXPECT_EQ(outcome.output, "prevedeno 3, preskoceno 0, selhalo 0, celkem 3\n") << sources;
        const std::string card = readFile("\\\\?\\" + fs::absolute("out").u8string() +
                                          "\\com1.fit").substr(7 * 80, 80);
        EXPECT_TRUE(sources[0] == '"' || card.find("`n\\com1.kvr' ve formatu") != std::string::npos)
            << card;
        for (const char* name : {"com1.fit", "aux.fit", "nul.fit"})   // by the long form alone
            fs::remove("\\\\?\\" + fs::absolute("out").u8string() + "\\" + name);
    }
    for (const char* name : {"com1.kvr", "aux.kvr", "nul.kvr"})
        fs::remove(n + "\\" + name);
}
#else
TEST(Windows, AccessListsAttributesAndKills)
{
    GTEST_SKIP() << "access lists, attributes and TerminateProcess: Windows only";
}
#endif
