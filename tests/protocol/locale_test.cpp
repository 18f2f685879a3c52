// A host under a decimal-comma locale reads and writes the same values as under any other:
// the instrument's number text is decimal with a point whatever the host's locale says.
#include "comma_locale.h"
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

class CommaLocale : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(UseDecimalCommaLocale(error)) << error;
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void SetUp() override {
        Line().Reset();
        ClearCapturedLog();
        ASSERT_EQ(Line().OpenReady(state), SerialResult::kOk);
    }
    static ScriptedLine &Line() { return ScriptedLine::Instance(); }

    std::int32_t Call(std::int32_t command, const char *address, float &value) {
        ItemRequest item{};
        item.address = address;
        item.itemClass = EM_CLASS_LOOP;
        item.dataType = EM_TYPE_FLOAT;
        item.count = 1;
        item.values = &value;
        DriverCall call{&state, command, 1, 0, &item};
        return ZelMain(&call);
    }

    DriverState state{};
};

TEST_F(CommaLocale, ValuesReadAndWrittenAsUnderAnyLocale) {
    const struct {
        const char *address;
        const char *read;    // the number of the instrument's reply
        float value;         // the host's value
        const char *written; // the number of the write request for that value
    } cases[] = {
        {"L01S1", "12.5", 125.0F, "12.500"},
        {"L01S3", "0.25", 250.0F, "0.250"},
    };
    for (const auto &c : cases) {
        SetUp();
        Line().Expect("L01S?\r").Reply(std::string("L01S=") + c.read + "\r\x03");
        float value = 0;
        EXPECT_EQ(Call(EM_CMD_SINGLE_READ, c.address, value), 0) << c.address;
        EXPECT_EQ(value, c.value) << c.address;

        const std::string request = std::string("L01S=") + c.written + "\r";
        Line().Expect(request).Reply("L01S ***\r\n");
        float written = c.value;
        EXPECT_EQ(Call(EM_CMD_SINGLE_WRITE, c.address, written), 0) << c.address;
        EXPECT_EQ(Line().Writes().back().bytes, request);
        EXPECT_TRUE(CapturedLog().empty()) << c.address;
    }
}

} // namespace
