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
    ClLineReading line{1, "Odd \"one\" \\ \xff\nx", "modem", "PP\xc3", true, 42, "b\xc3\xa9\xed\xa0\x80", 0};
    const std::string text = FormatExposition({line});
    EXPECT_NE(text.find("ringwarden_line_server_active{line=\"Odd \\\"one\\\" \\\\ \xEF\xBF\xBD\\nx\"} 1\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("status=\"unknown\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("user=\"b\xc3\xa9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("server_type=\"PP\xEF\xBF\xBD\"} 1\n"), std::string::npos);
    EXPECT_EQ(OneLine(" a |\tb\r\n\x01 "), "a ? b ?");
}
