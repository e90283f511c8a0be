#include "CommonUtilities/ParameterAccess/ini_db_bridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameters_transfer.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"

namespace {

using dbbridge_project::CIDBBridgeAuto;
using dbbridge_project::DBB_SECTION_COMMON;
using dbbridge_project::DBB_SECTION_DEVICE;
using dbbridge_project::DBB_SECTION_DEVICE_KEY_WITH_ID;
using dbbridge_project::DBB_TYPE_BINARY;
using dbbridge_project::DBB_TYPE_DOUBLE;
using dbbridge_project::DBB_TYPE_INT;
using dbbridge_project::DBB_TYPE_WSTRING;

class RecordingSink : public IKIVLogSink {
public:
    void OnMessage(KIVLogLevel level, const char* text, int length) override
    {
        levels.push_back(level);
        messages.emplace_back(text, static_cast<size_t>(length));
    }
    long AddRef() override { return ++references; }
    long Release() override { return --references; }

    std::vector<KIVLogLevel> levels;
    std::vector<std::string> messages;
    long references = 0;
};

class IniDBBridgeTest : public ::testing::Test {
protected:
    boost::intrusive_ptr<CIDBBridgeAuto> Create(const std::string& list, bool shared = false)
    {
        boost::intrusive_ptr<CIDBBridgeAuto> bridge;
        last_result = CreateIniDBBridge(list.c_str(), shared, 0, &sink, bridge);
        return bridge;
    }

    // Reads a value as wide text; "<code N>" when the store has none.
    std::string ReadText(CIDBBridgeAuto& bridge, const wchar_t* name,
                         dbbridge_project::DBB_SECTION section = DBB_SECTION_DEVICE, unsigned long component = 0)
    {
        unsigned long size = 0;
        void* value = nullptr;
        const int result = bridge.GetDBParameterSync(section, component, name, DBB_TYPE_WSTRING, &size, &value);
        std::string text = "<code " + std::to_string(result) + ">";
        if (result == 0) {
            const std::wstring wide(static_cast<const wchar_t*>(value));
            text.assign(wide.begin(), wide.end());
        }
        bridge.ReleaseBuffer(value);
        return text;
    }

    TempIniDir dir;
    RecordingSink sink;
    int last_result = 0;
};

TEST_F(IniDBBridgeTest, LaterFileInTheListWins)
{
    const std::string a = dir.Write("a.ini", "[S]\nk=1\nonly_a=3\n");
    const std::string b = dir.Write("b.ini", "[S]\nk=2\n");
    auto bridge = Create(a + "?" + b);
    ASSERT_TRUE(bridge);
    EXPECT_EQ(last_result, 0);
    EXPECT_EQ(ReadText(*bridge, L"S_k"), "2");
    EXPECT_EQ(ReadText(*bridge, L"S_only_a"), "3");
    EXPECT_EQ(ReadText(*bridge, L"S_missing"), "<code 2>");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(IniDBBridgeTest, BadFileListFailsCreation)
{
    const std::string a = dir.Write("a.ini", "[S]\nk=1\n");
    boost::intrusive_ptr<CIDBBridgeAuto> kept = Create(a);
    ASSERT_TRUE(kept);
    for (const std::string& list : {a + "?", std::string(), dir.PathOf("missing.ini"), a + "??" + a, dir.PathOf("")}) {
        boost::intrusive_ptr<CIDBBridgeAuto> out = kept;
        EXPECT_EQ(CreateIniDBBridge(list.c_str(), true, 0, &sink, out), -1) << list;
        EXPECT_EQ(out, kept) << list;
    }
}

TEST_F(IniDBBridgeTest, NamesSplitAtTheFirstUnderscore)
{
    const std::string ini = dir.Write("algo.ini",
                                      "[main]\nangle=0.5\n[max]\nvalid=25\n"
                                      "[MonoPeopleCounter--Tracker]\nradius=12\n[S]\nk_7=seven\n");
    auto bridge = Create(ini);
    EXPECT_EQ(ReadText(*bridge, L"angle"), "0.5");
    EXPECT_EQ(ReadText(*bridge, L"max_valid"), "25");
    EXPECT_EQ(ReadText(*bridge, L"MonoPeopleCounter--Tracker_radius"), "12");
    EXPECT_EQ(ReadText(*bridge, L"S_k", DBB_SECTION_DEVICE_KEY_WITH_ID, 7), "seven");

    EXPECT_EQ(ReadText(*bridge, L"S_"), "<code -1>");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.levels[0], kKivLogError);
    EXPECT_EQ(sink.messages[0].rfind("KIV error: ", 0), 0u);
    EXPECT_NE(sink.messages[0].find(". Error parsing parameter name S_"), std::string::npos) << sink.messages[0];
}

TEST_F(IniDBBridgeTest, ValuesAreHandedOutByType)
{
    const std::string ini = dir.Write("algo.ini", "[S]\nk=abc\nn=-17\nd=2.5\nblob=blob.bin\nbad=x1\n");
    dir.Write("blob.bin", std::string("\x01\x00\x02", 3));
    auto bridge = Create(ini);

    unsigned long size = 0;
    void* value = nullptr;
    ASSERT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", DBB_TYPE_WSTRING, &size, &value), 0);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), L"abc");
    bridge->ReleaseBuffer(value);

    ASSERT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_n", DBB_TYPE_INT, &size, &value), 0);
    int number = 0;
    std::memcpy(&number, value, sizeof(number));
    EXPECT_EQ(number, -17);
    bridge->ReleaseBuffer(value);

    ASSERT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_blob", DBB_TYPE_BINARY, &size, &value), 0);
    EXPECT_EQ(std::string(static_cast<const char*>(value), size), std::string("\x01\x00\x02", 3));
    bridge->ReleaseBuffer(value);

    EXPECT_THROW(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_bad", DBB_TYPE_DOUBLE, &size, &value),
                 std::exception);
    EXPECT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"MAIN_ENUMERATE_SOURCES", DBB_TYPE_INT, &size, &value),
              -5);
    EXPECT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", static_cast<dbbridge_project::DBB_TYPE>(4), &size,
                                     &value),
              -1);
}

TEST_F(IniDBBridgeTest, MalformedFileIsReportedAndReadAsNotFound)
{
    const std::string good = dir.Write("good.ini", "[S]\nk=1\n");
    const std::string broken = dir.Write("broken.ini", "[S]\nk=2\nthis line has no equals sign\n");
    auto bridge = Create(good + "?" + broken);
    ASSERT_TRUE(bridge);
    EXPECT_EQ(ReadText(*bridge, L"S_k"), "1");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find(". CIniDBBridge error parsing ini file " + broken + ": "), std::string::npos)
        << sink.messages[0];

    std::filesystem::remove(good);
    EXPECT_EQ(ReadText(*bridge, L"S_k"), "<code 2>");
    EXPECT_NE(sink.messages.back().find("ini file " + good + " doesn't exist"), std::string::npos);
}

TEST_F(IniDBBridgeTest, EachFileIsParsedOnceAndAFileOfMoreThanOneMebibyteIsNotRead)
{
    // Files of a kilobyte short of and past the limit: a value first, then comment lines.
    const auto file = [this](const char* name, std::size_t bytes) {
        std::string text = "[S]\nk=1\n";
        while (text.size() < bytes) text += "; a comment line of the parameter file\n";
        text.resize(bytes, ' ');
        return dir.Write(name, text);
    };
    const std::string near = file("near.ini", 1024 * 1024 - 1024);
    const std::string over = file("over.ini", 1024 * 1024 + 1);
    auto bridge = Create(near + "?" + over);
    ASSERT_TRUE(bridge);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadText(*bridge, L"S_k"), "1");  // from near.ini
    ASSERT_EQ(sink.messages.size(), 1u);                                    // once per load, not once per lookup
    EXPECT_NE(sink.messages[0].find("ini file " + over +
                                    " is 1048577 bytes, more than the 1048576 bytes a "
                                    "parameter file may have; it is not read"),
              std::string::npos)
        << sink.messages[0];
}

TEST_F(IniDBBridgeTest, ReadsAndWritesReportUnderTheirOwnSiteIds)
{
    const auto bad_type = static_cast<dbbridge_project::DBB_TYPE>(4);
    const int number = 1;
    unsigned long size = 0;
    void* value = nullptr;
    auto bridge = Create(dir.Write("good.ini", "[S]\nk=1\n"));
    ASSERT_TRUE(bridge);
    EXPECT_EQ(ReadText(*bridge, L"S_"), "<code -1>");
    EXPECT_EQ(bridge->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_", DBB_TYPE_INT, sizeof(number), &number), -1);
    EXPECT_EQ(bridge->GetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", bad_type, &size, &value), -1);
    EXPECT_EQ(bridge->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", bad_type, sizeof(number), &number), -1);
    auto broken = Create(dir.Write("broken.ini", "[S\n"));
    ASSERT_TRUE(broken);
    EXPECT_EQ(ReadText(*broken, L"S_k"), "<code 2>");
    EXPECT_NE(broken->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", DBB_TYPE_INT, sizeof(number), &number), 0);

    ASSERT_EQ(sink.messages.size(), 6u);
    std::set<std::string> sites;
    for (const std::string& message : sink.messages) {
        ASSERT_EQ(message.rfind("KIV error: ", 0), 0u) << message;
        sites.insert(message.substr(0, message.find(". ")));
    }
    EXPECT_EQ(sites.size(), sink.messages.size());
}

TEST_F(IniDBBridgeTest, SharedFileIsAbsentHere)
{
    const std::string ini = dir.Write("algo.ini", "[S]\nk=1\n");
    auto bridge = Create(ini, true);
    ASSERT_TRUE(bridge);
    EXPECT_EQ(last_result, 201);
    EXPECT_EQ(ReadText(*bridge, L"S_k", DBB_SECTION_COMMON), "<code 2>");
    EXPECT_EQ(std::string(bridge->GetIniFileName()), std::filesystem::canonical(ini).string());
}

TEST_F(IniDBBridgeTest, WritesValuesAndSideFilesIntoTheSingleFile)
{
    const std::string ini = dir.Write("algo.ini", "[S]\nold=1\n");
    auto bridge = Create(ini);
    const char bytes[] = {'x', '\0', 'y'};
    ASSERT_EQ(bridge->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", DBB_TYPE_BINARY, sizeof(bytes), bytes), 0);
    ASSERT_EQ(bridge->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_w", DBB_TYPE_WSTRING, 0, L"wide"), 0);

    std::ifstream side(dir.PathOf("S_k.dat"), std::ios_base::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(side), {}), std::string(bytes, sizeof(bytes)));
    EXPECT_EQ(ReadText(*bridge, L"S_k"), "S_k.dat");
    EXPECT_EQ(ReadText(*bridge, L"S_w"), "wide");
    EXPECT_EQ(ReadText(*bridge, L"S_old"), "1");

    auto two = Create(ini + "?" + ini);
    EXPECT_EQ(two->SetDBParameter(DBB_SECTION_DEVICE, 0, L"S_k", DBB_TYPE_WSTRING, 0, L"v"), -7);
    EXPECT_NE(sink.messages.back().find("CIniDBBridge::SetDBParameter can't be used if more than 1 ini files used. "
                                        "Files:"),
              std::string::npos);
}

TEST_F(IniDBBridgeTest, BridgeHoldsItsSinkUntilReleased)
{
    const std::string ini = dir.Write("algo.ini", "[S]\nk=1\n");
    {
        auto bridge = Create(ini);
        EXPECT_EQ(sink.references, 1);
    }
    EXPECT_EQ(sink.references, 0);
}

class ParametersTransferTest : public IniDBBridgeTest {
protected:
    std::unique_ptr<ParametersTransfer> Transfer(const std::string& content)
    {
        return std::make_unique<ParametersTransfer>(Create(dir.Write("algo.ini", content)), 0);
    }
};

TEST_F(ParametersTransferTest, TypedGettersFallBackToTheirDefaults)
{
    auto transfer = Transfer("[S]\nn=5\nd=0.25\n");
    EXPECT_EQ(transfer->GetParameterInt(L"S_n", 9, Blocks::kLoadDefault), 5);
    EXPECT_EQ(transfer->GetParameterInt(L"S_none", 9, Blocks::kLoadDefault), 9);
    EXPECT_EQ(transfer->GetParameterInt(L"S_n", 9, Blocks::kLoadCommonOnly), 9);
    EXPECT_EQ(transfer->GetParameterDouble(L"S_d", 1.0, Blocks::kLoadDefault), 0.25);
    EXPECT_EQ(transfer->GetParameterDouble(L"S_d", 1.0, Blocks::kLoadCommonAndDevice), 0.25);

    ParametersTransfer without_store(nullptr, 0);
    EXPECT_EQ(without_store.GetParameterInt(L"S_n", 9, Blocks::kLoadDefault), 9);
    std::string out = "kept";
    EXPECT_FALSE(without_store.GetParameterAsStringIfExists(L"S_n", out, Blocks::kLoadDefault));
}

TEST_F(ParametersTransferTest, StringBufferTakesLengthCharactersAndTheTerminatorAtLength)
{
    struct Case {
        const wchar_t* name;
        const char* default_value;
        long length;
        const char* expected;
    };
    const Case cases[] = {
        {L"S_k", "xy", 3, "abc"},            // stored text cut to length
        {L"S_none", "defaults", 4, "defa"},  // default cut to length
        {L"S_k", "xy", 6, "abcdef"},         // exactly length characters
        {L"S_k", "xy", 9, "abcdef"},         // shorter text
        {L"S_k", "xy", 0, ""},               // room for the terminator only
    };
    auto transfer = Transfer("[S]\nk=abcdef\n");
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, '#', sizeof(buffer));
        EXPECT_EQ(transfer->GetParameterString(c.name, c.default_value, buffer, c.length, Blocks::kLoadDefault), 0);
        EXPECT_STREQ(buffer, c.expected) << c.length;
        EXPECT_EQ(buffer[c.length], '\0') << c.length;
        EXPECT_EQ(std::string(buffer + c.length + 1, sizeof(buffer) - c.length - 1),
                  std::string(sizeof(buffer) - c.length - 1, '#'))
            << "written past position " << c.length;
    }
}

TEST_F(ParametersTransferTest, TextGettersConvertWideTextsThroughUtf8)
{
    auto transfer = Transfer("[S]\ncity=Z\xC3\xBCrich\n[Z\xC3\xBC]\nk=1\n");
    std::string narrow;
    transfer->GetParameterString(L"S_city", "none", narrow, Blocks::kLoadDefault);
    EXPECT_EQ(narrow, "Z\xC3\xBCrich");
    std::wstring wide;
    transfer->GetParameterString(L"S_city", L"none", wide, Blocks::kLoadDefault);
    EXPECT_EQ(wide, L"Z\u00FCrich");
    transfer->GetParameterString(L"S_other", L"none", wide, Blocks::kLoadDefault);
    EXPECT_EQ(wide, L"none");

    std::string out = "unchanged";
    EXPECT_TRUE(transfer->GetParameterAsStringIfExists(L"Z\u00FC_k", out, Blocks::kLoadDefault));
    EXPECT_EQ(out, "1");
    out = "unchanged";
    EXPECT_FALSE(transfer->GetParameterAsStringIfExists(L"S_absent", out, Blocks::kLoadDefault));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(transfer->GetWorkingDirectory(), std::filesystem::canonical(dir.PathOf("")).string());
}

}  // namespace
