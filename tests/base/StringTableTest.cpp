// Reads every entry of the program's string table and compares it with the texts it must hold.
#include <string.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "base/Resources.h"
#include "tests/support/ExpectedTexts.h"

namespace {

// Every fixed text; the banner (1) and the contact lines (11) are checked
// for their shape only.
const std::map<UINT, std::string> kExpected = {
    {2, "ERROR!!! Cannot initialize remote network access system. Error N %d\r\n"},
    {3, "ERROR!!! Cannot enumerate modems."},
    {4, "device %u:\t\"%s\""},
    {5, "ERROR!!! Cannot get modem access info. Error N %d"},
    {6, "\tDial-up server active"},
    {7, "\tDial-up server stopped"},
    {8, "ERROR! Unknown command: %s\r\n"},
    {9, kExpectedHelp},
    {10, "\tComment: %.256s\r\n"},
    {12, "Type \"%s /?\" to call help\r\n"},
    {13, "No any modem device available."},
    {14, "Device status list:"},
    {15, "Start dial-up server on the following device(s):"},
    {16, "Stop dial-up server on the following device(s):"},
    {17, "WARNING!!! This application was designed for Microsoft Windows 9x\r\noperating system family only!\r\n"
         "It wouldn't work on NT family systems."},
    {18, "\nCheck, that \"Dial-up networking\" is installed!"},
    {19, "Wrong device number: %u"},
    {20, "Device \"%s\" not found"},
    {21, "\tServer type:\t%.4s"},
    {22, "Break connection(s) on the following device(s):"},
    {23, "Device not found."},
    {25, "Ringwarden"},
    {26, "Idle"},
    {27, "Hanging up"},
    {28, "Connected"},
    {29, "Monitoring"},
    {30, "Answering timeout"},
    {31, "Calling back"},
    {32, "Answering"},
    {33, "Monitoring failed"},
    {34, "Unknown"},
    {35, "\tStatus:\t%s"},
    {36, "\tUser logged in:\t%s"},
    {37, "\tDevice type:\t%s"},
    {38, "Command line error! Bad device number: \"%s\""},
    {39, "Unknown command line key: \"%s\""},
    {40, "Error! You can specify only one device type."},
    {41, "Bad command line!"},
    {42, "ERROR!!! The supervisor refused the command on device \"%s\". Error N %d"},
    {3016, "ERROR"},
    {3017, "WinAPI Error"},
    {3018, "\n\n System Reports:\n"},
    {3020, "Not enough memory"},
    {3021, "APPLICATION ERROR!!!"},
    {3022, "%s\n Access violation"},
    {3023, "%s\n Debug attempt"},
    {3024, "%s\nFloating point operation error"},
    {3025, "%s\nDivide by zero"},
    {3026, "%s\nOverflow"},
    {3027, "%s\nPaging error"},
    {3028, "%s\nInvalid instruction"},
    {3029, "%s\nStack overflow"},
    {3032, "\n\nUnable allocate %u bytes"},
    {3200, "Error! Cannot load library:\n\n\"%s\""},
    {3201, "Error! Invalid library:\n\n\"%s\"\n\nThe following function not found:\n\n\"%s\""},
    {37399, "\tHit any key to continue..."},
    {37400, "\tOk, Cancel?\t(O,C)"},
    {37401, "OoCc"},
    {37402, "\tAbort, Retry, Ignore?\t(A,R,I)"},
    {37403, "AaRrIi"},
    {37404, "\tYes, No, Cancel?\t(Y,N,C)"},
    {37405, "YyNnCc"},
    {37406, "\tYes, No?\t(Y,N)"},
    {37407, "YyNn"},
    {37408, "\tRetry, Cancel?\t(R,C)"},
    {37409, "RrCc"},
};

TEST(StringTable, EveryFixedTextIsExact) {
    for (const auto& [id, text] : kExpected) {
        EXPECT_EQ(text, ClString(id, g_hInstance).GetText()) << "entry " << id;
    }
}

TEST(StringTable, HoldsNothingElseAndLacksTheUnusedNumbers) {
    char buffer[2048];
    unsigned present = 0;
    for (UINT id = 0; id <= 0xFFFF; ++id) {
        if (LoadStringA(g_hInstance, id, buffer, sizeof(buffer)) == 0) {
            continue;
        }
        ++present;
        EXPECT_TRUE(id == 1 || id == 11 || kExpected.count(id) == 1) << "unexpected entry " << id;
    }
    EXPECT_EQ(kExpected.size() + 2, present);
    for (UINT missing : {24u, 3019u, 3030u, 3031u}) {
        EXPECT_EQ(0, LoadStringA(g_hInstance, missing, buffer, sizeof(buffer))) << missing;
    }
}

TEST(StringTable, BannerTakesVersionAndBuild) {
    const std::string banner = FormatResource(1, 1u, 3u, 42u).GetText();
    EXPECT_EQ(0u, banner.find("Ringwarden 1.3")) << banner;
    EXPECT_NE(std::string::npos, banner.find("42")) << banner;
    EXPECT_EQ(std::string::npos, banner.find('%')) << banner;
}

TEST(StringTable, ContactLinesAreTwoTabbedLines) {
    const std::string contact = ClString(11, g_hInstance).GetText();
    const size_t firstEnd = contact.find("\r\n");
    ASSERT_NE(std::string::npos, firstEnd);
    EXPECT_EQ('\t', contact[0]);
    EXPECT_EQ('\t', contact[firstEnd + 2]);
    EXPECT_EQ(contact.size() - 2, contact.find("\r\n", firstEnd + 2));
    EXPECT_NE(std::string::npos, contact.find("@example.org"));
}

}  // namespace
