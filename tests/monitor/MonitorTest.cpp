// Tests of check_ringwarden's pieces that the end-to-end suite cannot vary enough: ranges and label escaping.
#include <gtest/gtest.h>

#include "monitor/ClThresholdRange.h"
#include "monitor/Exposition.h"
#include "monitor/PluginReport.h"

TEST(ThresholdRange, AlertsAsTheGuidelinesSay)
{
    // Range, value, whether it alerts; a null range is one that must not parse.
    const struct {
        const char* range;
        double value;
        bool alerts;
    } cases[] = {
        {"10", -1, true},  {"10", 0, false},   {"10", 10, false},  {"10", 11, true},   {"1:", 0, true},
        {"1:", 1, false},  {"1:", 99, false},  {"~:5", -9, false}, {"~:5", 6, true},   {"2:3", 1, true},
        {"2:3", 2.5, false}, {"@2:3", 2, true}, {"@2:3", 4, false}, {"@0", 0, true},   {"-1.5:", -2, true},
    };
    for (const auto& c : cases) {
        ClThresholdRange range;
        ASSERT_TRUE(range.Parse(c.range)) << c.range;
        EXPECT_EQ(range.Alerts(c.value), c.alerts) << c.range << " " << c.value;
    }
    for (const char* bad : {"", "@", ":", "5:1", "a", "1:b", "0x10", "nan", "inf", "1:2:3", "~"}) {
        ClThresholdRange range;
        EXPECT_FALSE(range.Parse(bad)) << bad;
        EXPECT_FALSE(range.Alerts(-1e9)) << "a range that did not parse never alerts";
    }
}

TEST(Exposition, LabelValuesAreEscapedAndValidUtf8)
{
    // A name, and its labels: UTF-8 as it is; anything else read as Windows-1252, and marked.
    const struct {
        const char* name;
        const char* labels;
    } cases[] = {
        {"Odd \"one\" \\ \nx", "line=\"Odd \\\"one\\\" \\\\ \\nx\""},
        {"Lat\xc3\xa9n", "line=\"Lat\xc3\xa9n\""},
        {"Lat\xe9n", "line=\"Lat\xc3\xa9n\",line_encoding=\"windows-1252\""},
        {"\x80\x81\x9f\xff", "line=\"\xe2\x82\xac\xc2\x81\xc5\xb8\xc3\xbf\",line_encoding=\"windows-1252\""},
        {"\xed\xa0\x80", "line=\"\xc3\xad\xc2\xa0\xe2\x82\xac\",line_encoding=\"windows-1252\""},
    };
    for (const auto& c : cases) {
        ClLineReading line{1, c.name, "modem", "PP\xc3", true, 42, "", 0};
        const std::string text = FormatExposition({line});
        EXPECT_NE(text.find(std::string("ringwarden_line_server_active{") + c.labels + "} 1\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find(std::string("status=\"unknown\"} 1\n")), std::string::npos);
        EXPECT_NE(text.find("server_type=\"PP\xc3\x83\"} 1\n"), std::string::npos) << text;
    }
    EXPECT_EQ(OneLine(" a |\tb\r\n\x01 "), "a ? b ?");
}
